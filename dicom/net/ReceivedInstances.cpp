#include "dicom/net/ReceivedInstances.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/InstanceIntake.h"
#include "support/FileDescriptor.h"

namespace lumo::dicom {

namespace {

std::string Text(DcmDataset& set, const DcmTagKey& tag) {
    OFString text;
    if (set.findAndGetOFString(tag, text).bad()) return {};
    return text.c_str();
}

bool Listed(const std::vector<std::string>& uids, const std::string& uid) {
    return uids.empty() || std::find(uids.begin(), uids.end(), uid) != uids.end();
}

// Why an instance is not one of those asked for, or empty when it is: the
// keys of the level asked and of the levels above it that were given.
std::string NotAsked(const RetrieveKeys& keys, DcmDataset& set) {
    if (keys.level == "PATIENT") {
        const std::string id = Text(set, DCM_PatientID);
        return id == keys.patientId ? std::string() : "Patient ID « " + id + " » non demandé";
    }
    const std::string study = Text(set, DCM_StudyInstanceUID);
    if (!Listed(keys.studyUids, study)) return "Study Instance UID " + study + " non demandé";
    if (keys.level == "STUDY") return {};
    const std::string series = Text(set, DCM_SeriesInstanceUID);
    if (!Listed(keys.seriesUids, series)) return "Series Instance UID " + series + " non demandé";
    if (keys.level == "SERIES") return {};
    const std::string sop = Text(set, DCM_SOPInstanceUID);
    return Listed(keys.sopUids, sop) ? std::string() : "SOP Instance UID " + sop + " non demandé";
}

// A UID names a file only when it is what a UID may be: digits and dots, a
// node's "../x" never leaves the folder.
bool FitsFileName(const std::string& uid) {
    return !uid.empty() && uid.size() <= 64 && uid.front() != '.' &&
           uid.find_first_not_of("0123456789.") == std::string::npos;
}

// The file meta information of a Part 10 file, with its preamble: always
// explicit VR little endian, whatever the data set's transfer syntax; the
// implementation named as DCMTK names it in the files it writes.
std::string PartTenHeader(const std::string& sopClass, const std::string& sopInstance,
                          const std::string& transferSyntax) {
    std::string elements;
    const auto put16 = [&elements](unsigned value) {
        elements += static_cast<char>(value & 0xFF);
        elements += static_cast<char>((value >> 8) & 0xFF);
    };
    const auto put32 = [&put16](std::size_t value) {
        put16(static_cast<unsigned>(value & 0xFFFF));
        put16(static_cast<unsigned>((value >> 16) & 0xFFFF));
    };
    const auto element = [&](unsigned tag, const char* vr, std::string value, char pad) {
        if (value.size() % 2 != 0) value += pad;
        put16(0x0002);
        put16(tag);
        elements += vr;
        if (std::string_view(vr) == "OB") {
            put16(0);
            put32(value.size());
        } else {
            put16(static_cast<unsigned>(value.size()));
        }
        elements += value;
    };
    element(0x0001, "OB", std::string("\x00\x01", 2), '\0');
    element(0x0002, "UI", sopClass, '\0');
    element(0x0003, "UI", sopInstance, '\0');
    element(0x0010, "UI", transferSyntax, '\0');
    element(0x0012, "UI", OFFIS_IMPLEMENTATION_CLASS_UID, '\0');
    element(0x0013, "SH", OFFIS_DTK_IMPLEMENTATION_VERSION_NAME, ' ');
    std::string header(128, '\0');
    header += "DICM";
    const std::string body = std::move(elements);
    elements.clear();
    put16(0x0002);
    put16(0x0000);
    elements += "UL";
    put16(4);
    put32(body.size());
    return header + elements + body;
}

// Both pieces, in one call when the kernel takes them at once; errno or 0.
int WriteAll(int file, std::string_view first, std::string_view second) {
    iovec pieces[2] = {{const_cast<char*>(first.data()), first.size()},
                       {const_cast<char*>(second.data()), second.size()}};
    iovec* next = pieces;
    int left = 2;
    while (left > 0) {
        const ssize_t put = ::writev(file, next, left);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        auto done = static_cast<std::size_t>(put);
        while (left > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return 0;
}

// The instance's bytes as they came, behind its file meta information:
// nothing re-encoded. Written beside its final name, then renamed over it:
// a file of that name is always whole.
std::string Keep(std::string_view bytes, const detail::ResponseCommand& request,
                 const std::string& transferSyntax, const std::string& folder) {
    const std::string& uid = request.affectedSopInstanceUID;
    if (!FitsFileName(uid)) return "SOP Instance UID impropre à un nom de fichier";
    const std::filesystem::path path = std::filesystem::path(folder) / (uid + ".dcm");
    const std::filesystem::path part = std::filesystem::path(folder) / ("." + uid + ".dcm.part");
    const auto failed = [&path](int error) {
        return "écriture de " + path.string() +
               " impossible : " + std::generic_category().message(error);
    };
    FileDescriptor file(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsOpen() && errno == ENOENT) {
        // The folder is made when the first instance comes, not before; why
        // it cannot be is what the operator needs, not the open's ENOENT.
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) return failed(error.value());
        file.Reset(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    }
    if (!file.IsOpen()) return failed(errno);
    const std::string header = PartTenHeader(request.affectedSopClassUID, uid, transferSyntax);
    int error = WriteAll(file.Get(), header, bytes);
    if (error == 0) error = file.Close();
    if (error == 0 && ::rename(part.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(part.c_str());
        return failed(error);
    }
    return {};
}

void Count(std::vector<UidCount>& counts, const std::string& uid) {
    for (UidCount& entry : counts) {
        if (entry.uid == uid) {
            ++entry.count;
            return;
        }
    }
    if (counts.size() + 1 >= ReceivedTally::kMaxKinds) {
        if (counts.empty() || counts.back().uid != "…") counts.push_back({"…", 0});
        ++counts.back().count;
        return;
    }
    counts.push_back({uid, 1});
}

void NoteFailure(ReceivedTally& tally, const std::string& uid, const std::string& why) {
    ++tally.failureCount;
    if (tally.failures.size() < ReceivedTally::kMaxFailuresKept)
        tally.failures.push_back({uid, why});
}

}  // namespace

namespace detail {

StoreAnswer TakeInstance(ReceivedInstances::Impl& intake, const ResponseCommand& request,
                         std::string_view bytes, E_TransferSyntax xfer,
                         const std::string& transferSyntax, std::size_t connection) {
    const std::string& uid = request.affectedSopInstanceUID;
    StoreAnswer answer;
    DcmDataset set;
    const OFCondition read = ReadIntoDcmtk(bytes, xfer, set);
    if (read.bad()) {
        answer = {kStoreCannotUnderstand, "Cannot read the data set",
                  "illisible : " + OneLine(read.text())};
    } else if (const std::string own = Text(set, DCM_SOPInstanceUID); own != uid) {
        answer = {
            kStoreCannotUnderstand, "SOP Instance UID differs from the command",
            "le fichier porte le SOP Instance UID « " + own + " », la commande annonçait " + uid};
    } else if (const std::string sopClass = Text(set, DCM_SOPClassUID);
               sopClass != request.affectedSopClassUID) {
        answer = {kStoreCannotUnderstand, "SOP Class UID differs from the command",
                  "le fichier est de la classe SOP « " + sopClass + " », la commande annonçait " +
                      request.affectedSopClassUID};
    } else if (answer.why = NotAsked(intake.settings.keys, set);
               answer.why.empty() && !intake.settings.storeFolder.empty()) {
        answer.why = Keep(bytes, request, transferSyntax, intake.settings.storeFolder);
        if (!answer.why.empty()) {
            answer.status = kStoreOutOfResources;
            answer.wireComment = "Cannot write the file";
        }
    }
    const std::string& failure = answer.why;
    // A node's instance that is not one asked for is taken all the same (the
    // node did its part), and named.
    {
        const std::lock_guard lock(intake.mutex);
        ReceivedTally& tally = intake.tally;
        ++tally.received;
        tally.bytes += bytes.size();
        if (connection < tally.connections.size()) ++tally.connections[connection].instances;
        if (failure.empty()) {
            ++tally.accepted;
            Count(tally.sopClasses, request.affectedSopClassUID);
            Count(tally.transferSyntaxes, transferSyntax);
        } else {
            NoteFailure(tally, uid, failure);
        }
        intake.received.fetch_add(1, std::memory_order_release);
    }
    intake.changed.notify_all();
    return answer;
}

OFCondition SendStoreResponse(T_ASC_Association* assoc, T_ASC_PresentationContextID presID,
                              const ResponseCommand& request, const StoreAnswer& answer) {
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_STORE_RSP;
    T_DIMSE_C_StoreRSP& response = message.msg.CStoreRSP;
    response.MessageIDBeingRespondedTo = request.messageID;
    OFStandard::strlcpy(response.AffectedSOPClassUID, request.affectedSopClassUID.c_str(),
                        sizeof response.AffectedSOPClassUID);
    OFStandard::strlcpy(response.AffectedSOPInstanceUID, request.affectedSopInstanceUID.c_str(),
                        sizeof response.AffectedSOPInstanceUID);
    response.DimseStatus = answer.status;
    response.DataSetType = DIMSE_DATASET_NULL;
    response.opts = O_STORE_AFFECTEDSOPCLASSUID | O_STORE_AFFECTEDSOPINSTANCEUID;
    DcmDataset detail;
    // An Error Comment holds 64 characters at most.
    if (!answer.wireComment.empty())
        detail.putAndInsertString(DCM_ErrorComment, answer.wireComment.substr(0, 64).c_str());
    return DIMSE_sendMessageUsingMemoryData(
        assoc, presID, &message, detail.isEmpty() ? nullptr : &detail, nullptr, nullptr, nullptr);
}

void RefuseInstance(ReceivedInstances::Impl& intake, const std::string& sopInstanceUid,
                    const std::string& why) {
    const std::lock_guard lock(intake.mutex);
    NoteFailure(intake.tally, sopInstanceUid, why);
}

std::size_t OpenConnection(ReceivedInstances::Impl& intake, const std::string& address,
                           const std::string& callingAETitle, const std::string& calledAETitle) {
    const ReceivedInstances::Settings& settings = intake.settings;
    std::size_t number = SIZE_MAX;
    {
        const std::lock_guard lock(intake.mutex);
        std::vector<StoreConnection>& connections = intake.tally.connections;
        ++intake.tally.storeAssociations;
        for (std::size_t i = 0; i < connections.size() && number == SIZE_MAX; ++i)
            if (connections[i].address == address &&
                connections[i].callingAETitle == callingAETitle &&
                connections[i].calledAETitle == calledAETitle)
                number = i;
        // A node that opens an association per instance, from ever new
        // titles, is counted, not listed without end.
        if (number == SIZE_MAX && connections.size() < ReceivedTally::kMaxKinds) {
            StoreConnection connection{address, callingAETitle, calledAETitle};
            connection.expectedTitle = settings.expectedCalledAETitle.empty() ||
                                       calledAETitle == settings.expectedCalledAETitle;
            connection.expectedAddress =
                settings.expectedAddress.empty() || address == settings.expectedAddress;
            connections.push_back(std::move(connection));
            number = connections.size() - 1;
        }
        if (number != SIZE_MAX) ++connections[number].associations;
        intake.connections.fetch_add(1, std::memory_order_release);
    }
    intake.changed.notify_all();
    return number;
}

void CloseConnection(ReceivedInstances::Impl& intake, AssociationReport report) {
    const std::lock_guard lock(intake.mutex);
    if (intake.tally.storeReports.size() < ReceivedTally::kMaxReportsKept)
        intake.tally.storeReports.push_back(std::move(report));
}

}  // namespace detail

ReceivedInstances::ReceivedInstances(Settings settings)
    : impl_(std::make_shared<Impl>(std::move(settings))) {}

const ReceivedInstances::Settings& ReceivedInstances::GetSettings() const {
    return impl_->settings;
}

std::uint64_t ReceivedInstances::Received() const {
    return impl_->received.load(std::memory_order_acquire);
}

int ReceivedInstances::Connections() const {
    return impl_->connections.load(std::memory_order_acquire);
}

ReceivedTally ReceivedInstances::Tally() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->tally;
}

bool ReceivedInstances::WaitBeyond(std::uint64_t count, std::chrono::steady_clock::time_point until,
                                   std::stop_token stop) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_until(lock, stop, until,
                                     [&] { return impl_->tally.received > count; });
}

}  // namespace lumo::dicom
