// The files the console reads and writes when they are not what they should
// be: a pipe, a device, a folder or a huge file in place of a text file, and
// a write that fails half-way (a full disk, simulated by a file size limit).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/LinesFile.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/Variant.h"
#include "support/Application.h"
#include "support/Exception.h"
#include "tests/app/FormTestSupport.h"

namespace lumo::app {
namespace {

using testing::CurrentDir;
using testing::FileNames;
using testing::RecordingHost;
using testing::TempDir;
using Lines = std::vector<std::string>;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A form without a node, working in a temporary current folder.
struct FormInFolder {
    FormInFolder() { SetApplicationTitle("Test Worklist"); }
    TempDir dir;
    CurrentDir here{dir.Path()};
    RecordingHost host;
    TFormTestWL form{host};

    std::string File(const std::string& name) const { return dir.Path() + "/" + name; }
};

// What a case does with the file it set up.
enum class Use {
    BatchInput,    // chosen as the batch's patient file
    LoadResult,    // ResultQuery.TXT read back by "Load Result"
    ExportResult,  // ResultQuery.TXT written by "Export Result"
    BatchResult,   // the batch's _RESULT.txt
};

void MakeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path; }

void MakeHugeFile(const std::string& path) {
    // Sparse: a byte over the bound without using the disk.
    WriteBytes(path, "");
    std::filesystem::resize_file(path, 64u * 1024 * 1024 + 1);
}

TEST(SpecialFiles, AreRefusedWithTheirReasonNeverWaitedOn) {
    struct Case {
        const char* what;
        Use use;
        // Makes the file under `name` (a full path) in the test's folder.
        std::function<void(const std::string& name)> make;
        std::string reason;
    };
    const auto fifo = [](const std::string& name) { MakeFifo(name); };
    const auto folder = [](const std::string& name) { std::filesystem::create_directory(name); };
    const auto linkTo = [](const char* target) {
        return [target](const std::string& name) { std::filesystem::create_symlink(target, name); };
    };
    const std::string pipe = "Not a regular file (a named pipe)";
    const std::string device = "Not a regular file (a character device)";
    const std::string tooLarge = "File too large (over 64 MiB)";
    const std::vector<Case> cases = {
        {"batch input: a named pipe", Use::BatchInput, fifo, pipe},
        {"batch input: /dev/zero", Use::BatchInput, linkTo("/dev/zero"), device},
        {"batch input: a folder", Use::BatchInput, folder, "Is a directory"},
        {"batch input: too large", Use::BatchInput, MakeHugeFile, tooLarge},
        {"result list: a named pipe", Use::LoadResult, fifo, pipe},
        {"result list: /dev/zero", Use::LoadResult, linkTo("/dev/zero"), device},
        {"result list: a folder", Use::LoadResult, folder, "Is a directory"},
        {"result list: too large", Use::LoadResult, MakeHugeFile, tooLarge},
        {"export: a named pipe", Use::ExportResult, fifo, pipe},
        {"export: /dev/null", Use::ExportResult, linkTo("/dev/null"), device},
        {"export: a folder", Use::ExportResult, folder, "Is a directory"},
        {"batch result: a named pipe", Use::BatchResult, fifo, pipe},
        {"batch result: /dev/null", Use::BatchResult, linkTo("/dev/null"), device},
        {"batch result: a folder", Use::BatchResult, folder, "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FormInFolder f;
        f.form.ListBoxResult.Items.Assign({"line 1", "line 2"});
        std::string name = f.File("ResultQuery.TXT");
        bool ran = true;
        switch (c.use) {
            case Use::BatchInput:
                name = f.File("records.txt");
                c.make(name);
                f.host.chosenFile = name;
                ran = f.form.RunHandler([&] { f.form.ButtonCFINDType1.Click(); });
                break;
            case Use::BatchResult:
                // A record that is not queried: no node is needed.
                WriteBytes(f.File("records.txt"), ";;;;\r\n");
                name = f.File("records_RESULT.txt");
                c.make(name);
                f.host.chosenFile = f.File("records.txt");
                ran = f.form.RunHandler([&] { f.form.ButtonCFINDType1.Click(); });
                break;
            case Use::LoadResult:
                c.make(name);
                ran = f.form.RunHandler([&] { f.form.Button6.Click(); });
                break;
            case Use::ExportResult:
                c.make(name);
                ran = f.form.RunHandler([&] { f.form.Button5.Click(); });
                break;
        }
        const std::filesystem::file_type made = std::filesystem::symlink_status(name).type();
        EXPECT_FALSE(ran);
        const bool reading = c.use == Use::BatchInput || c.use == Use::LoadResult;
        EXPECT_EQ(f.host.errors,
                  (Lines{(reading ? "Cannot open file \"" : "Cannot create file \"") + name +
                         "\". " + c.reason}));
        EXPECT_EQ(f.form.ListBoxResult.Items.Copy(), (Lines{"line 1", "line 2"}));
        EXPECT_TRUE(f.host.messages.empty());
        // The special file is left as it was, and nothing beside it.
        EXPECT_EQ(std::filesystem::symlink_status(name).type(), made) << name;
        const Lines expected = c.use == Use::BatchResult
                                   ? Lines{"records.txt", "records_RESULT.txt"}
                                   : Lines{std::filesystem::path(name).filename().string()};
        EXPECT_EQ(FileNames(f.dir.Path()), expected);
    }
}

// Lowers the largest size a file of this process may reach, so that a write
// beyond it fails (EFBIG) as on a full disk; restored at the end of scope.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    sighandler_t previousHandler_ = SIG_DFL;
};

dicom::DicomDataSet Response(const std::string& accession, const std::string& comments) {
    dicom::DicomDataSet response;
    response.DataSetAttributes().AttributesAdd(0x0008, 0x0050, dicom::Variant(accession));
    response.DataSetAttributes().AttributesAdd(0x0010, 0x4000, dicom::Variant(comments));
    return response;
}

TEST(SavedFiles, AFailedWriteLeavesTheOldFileWholeAndNothingBeside) {
    struct Case {
        const char* what;
        std::string name;  // relative to the form's current folder
        // Writes the old file (without a limit), then fails to replace it.
        std::function<void(FormInFolder&)> writeOld;
        std::function<void(FormInFolder&)> failToReplace;
    };
    const Lines many(200, "Study Description: a line of a listing");
    const std::vector<Case> cases = {
        {"Export Result", "ResultQuery.TXT",
         [](FormInFolder& f) {
             f.form.ListBoxResult.Items.Assign({"old export"});
             ASSERT_TRUE(f.form.RunHandler([&] { f.form.Button5.Click(); }));
         },
         [&](FormInFolder& f) {
             f.form.ListBoxResult.Items.Assign(many);
             EXPECT_FALSE(f.form.RunHandler([&] { f.form.Button5.Click(); }));
             ASSERT_EQ(f.host.errors.size(), 1u);
             EXPECT_EQ(f.host.errors[0],
                       "Stream write error: \"" + f.File("ResultQuery.TXT") + "\". File too large");
         }},
        {"batch result", "records_RESULT.txt",
         [](FormInFolder& f) {
             WriteBytes(f.File("records_RESULT.txt"), "old result\r\n");
             std::string records;
             for (int i = 0; i < 200; ++i) records += ";;;;\r\n";
             WriteBytes(f.File("records.txt"), records);
         },
         [](FormInFolder& f) {
             f.host.chosenFile = f.File("records.txt");
             EXPECT_FALSE(f.form.RunHandler([&] { f.form.ButtonCFINDType1.Click(); }));
             EXPECT_EQ(f.form.MemoDest.Lines.Count(), 200u);
         }},
        {"Save Results", "Logs/Lumo4410_1.dcm",
         [](FormInFolder& f) {
             std::filesystem::create_directory(f.File("Logs"));
             Response("OLD", "x").DataSetWriteFile("Logs/Lumo4410_1.dcm");
         },
         [](FormInFolder&) {
             try {
                 Response("NEW", std::string(4000, 'y')).DataSetWriteFile("Logs/Lumo4410_1.dcm");
                 ADD_FAILURE() << "no error";
             } catch (const Exception& e) {
                 EXPECT_EQ(e.ClassName(), "EDicomError");
                 EXPECT_EQ(e.Message().rfind("Cannot write Logs/Lumo4410_1.dcm: ", 0), 0u)
                     << e.Message();
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FormInFolder f;
        c.writeOld(f);
        const std::string old = ReadBytes(f.File(c.name));
        ASSERT_FALSE(old.empty());
        const std::filesystem::path folder = std::filesystem::path(f.File(c.name)).parent_path();
        const Lines before = FileNames(folder.string());
        {
            FileSizeLimit limit(1024);
            c.failToReplace(f);
        }
        EXPECT_EQ(ReadBytes(f.File(c.name)), old);
        EXPECT_EQ(FileNames(folder.string()), before);
    }
}

}  // namespace
}  // namespace lumo::app
