#pragma once

// What the form's tests share: a host that records what the form asks of
// the screen, a form pointed at a test node, a temporary folder.

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dctagkey.h>

#include <optional>
#include <string>
#include <vector>

#include "app/FormHost.h"
#include "app/TFormTestWL.h"
#include "dicom/listener/EventLoopDispatcher.h"
#include "tests/fixtures/TestNode.h"

namespace lumo::app::testing {

// A screen that writes nothing: it keeps every message box, error report
// and notification for the test to read. Runs listener events on the loop
// of its EventLoopDispatcher, on the test's thread.
class RecordingHost : public FormHost {
  public:
    struct Message {
        std::string title;
        std::string text;
        MessageKind kind;
    };

    void ShowMessage(const std::string& title, const std::string& text, MessageKind kind) override {
        messages.push_back({title, text, kind});
    }
    void ShowException(const std::string& text) override { errors.push_back(text); }
    std::optional<std::string> ChooseFile(const TOpenDialog&) override { return chosenFile; }
    std::optional<std::string> ChooseSaveFile(const std::string&) override {
        return chosenSaveFile;
    }
    void ProcessMessages() override;
    void Changed() override { ++changed; }
    void QueryListed() override { ++listed; }
    dicom::Dispatcher& FormDispatcher() override { return dispatcher; }

    std::vector<Message> messages;
    std::vector<std::string> errors;
    std::optional<std::string> chosenFile;
    std::optional<std::string> chosenSaveFile;
    // What the labels showed when the form let the screen repaint.
    std::vector<std::pair<std::string, std::string>> paintedLabels;
    const TFormTestWL* form = nullptr;
    int changed = 0;
    int listed = 0;
    dicom::EventLoopDispatcher dispatcher;
};

// A folder under /tmp made for one test and removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Makes a folder the current one for a scope (saved responses are written
// relative to it).
class CurrentDir {
  public:
    explicit CurrentDir(const std::string& path);
    ~CurrentDir();
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

  private:
    std::string previous_;
};

// Starts the node on an ephemeral port and hands it back.
lumo::testing::TestNode& Started(lumo::testing::TestNode& node);

// A form after FormCreate, its node fields pointing at `node` and its
// queries bounded by short timeouts.
struct FormOnNode {
    explicit FormOnNode(const lumo::testing::TestNode& node);
    ~FormOnNode();
    RecordingHost host;
    TFormTestWL form{host};
};

// A form whose port field names a port where nothing listens.
std::string UnusedPort();

// The text of a top-level element as received, without the byte that pads
// an odd-length value to even length; nullopt when absent.
std::optional<std::string> WireText(const lumo::testing::ReceivedRequest& request,
                                    const DcmTagKey& key);
// The same inside item `index` (0-based) of a sequence at the top level.
std::optional<std::string> WireItemText(const lumo::testing::ReceivedRequest& request,
                                        const DcmTagKey& sequence, const DcmTagKey& key,
                                        unsigned long index = 0);
// The tags of that item, in ascending order; empty when there is no such item.
std::vector<DcmTagKey> WireItemTags(const lumo::testing::ReceivedRequest& request,
                                    const DcmTagKey& sequence, unsigned long index = 0);
// The number of items of a top-level sequence.
unsigned long WireItemCount(const lumo::testing::ReceivedRequest& request,
                            const DcmTagKey& sequence);

std::string TagText(const DcmTagKey& key);
std::vector<std::string> TagTexts(const std::vector<DcmTagKey>& keys);

// The files of a folder, names only, sorted; empty when it does not exist.
std::vector<std::string> FileNames(const std::string& folder);

}  // namespace lumo::app::testing
