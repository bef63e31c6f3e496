#include "dicom/net/ReceivedInstances.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmnet/dimse.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/InstanceIntake.h"

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

// Written beside its final name, then renamed over it: a file of that name
// is always whole.
std::string Keep(DcmFileFormat& file, E_TransferSyntax xfer, const std::string& folder,
                 const std::string& uid) {
    if (!FitsFileName(uid)) return "SOP Instance UID impropre à un nom de fichier";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path path = std::filesystem::path(folder) / (uid + ".dcm");
    const std::filesystem::path part = std::filesystem::path(folder) / ("." + uid + ".dcm.part");
    const OFCondition cond = file.saveFile(part.c_str(), xfer);
    if (cond.bad()) {
        std::filesystem::remove(part, error);
        return "écriture de " + path.string() + " impossible : " + cond.text();
    }
    std::filesystem::rename(part, path, error);
    if (error) {
        std::filesystem::remove(part, error);
        return "écriture de " + path.string() + " impossible : " + error.message();
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
    DcmFileFormat file;
    DcmDataset& set = *file.getDataset();
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
        answer.why = Keep(file, xfer, intake.settings.storeFolder, uid);
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
