#include "dicom/net/detail/FindRequest.h"

#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/dimse.h>

#include <string_view>

#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/DimseStatus.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

constexpr const char* kCommand = "C-FIND";

// A response, or false when the node let the bound after a cancel pass.
bool ReceiveOrCutOff(Association& association, DIC_US messageID, std::size_t maxBytes, int taken,
                     std::string& commandBuffer, std::string& dataBuffer, ResponseCommand& command,
                     std::string_view& data, E_TransferSyntax& xfer) {
    try {
        T_ASC_Association* assoc = association.Get();
        OFCondition cond = ReceiveCommand(assoc, maxBytes, commandBuffer, command);
        if (cond.bad()) association.Fail(cond, kCommand, AfterResponses(taken));
        if (command.commandField != DIMSE_C_FIND_RSP)
            association.FailProtocol(kCommand, "unexpected message from the node (command " +
                                                   StatusHex(command.commandField) + ")");
        if (command.messageIDBeingRespondedTo != messageID)
            association.FailProtocol(
                kCommand, "protocol error: response to message ID " +
                              std::to_string(command.messageIDBeingRespondedTo) +
                              " while the request was message ID " + std::to_string(messageID));
        if (!command.announcesDataSet) return true;
        cond = ReceiveDataSetBytes(assoc, maxBytes, dataBuffer, data, xfer);
        if (cond.bad()) association.Fail(cond, kCommand, AfterResponses(taken));
        return true;
    } catch (const Exception&) {
        if (association.Stop().CancelSent() && association.Expired()) return false;
        throw;
    }
}

}  // namespace

std::string AfterResponses(int received) {
    return " after " + std::to_string(received) + " response" + (received == 1 ? "" : "s");
}

std::optional<ResponseCommand> RunFindRequest(
    Association& association, T_ASC_PresentationContextID presID, const char* sopClass,
    DcmDataset& identifier, std::size_t maxResponseBytes,
    const std::function<void(const DicomDataSet& response)>& onResponse, bool noteTimes) {
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& request = message.msg.CFindRQ;
    const DIC_US messageID = association.NextMessageID();
    request.MessageID = messageID;
    OFStandard::strlcpy(request.AffectedSOPClassUID, sopClass, sizeof request.AffectedSOPClassUID);
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    request.DataSetType = DIMSE_DATASET_PRESENT;
    const OFCondition sent = DIMSE_sendMessageUsingMemoryData(
        association.Get(), presID, &message, nullptr, &identifier, nullptr, nullptr);
    if (sent.bad()) association.Fail(sent, kCommand, AfterResponses(0));
    if (noteTimes) association.NoteRequestSent();
    ExchangeStop& stop = association.Stop();
    stop.Arm(presID, messageID, association.ResponseBound());

    int taken = 0;
    std::string commandBuffer;  // a command spread over several PDVs, put together
    std::string dataBuffer;     // the same for a data set
    while (true) {
        association.HandleStop();
        // The response timeout bounds the whole wait for one response, from
        // the first byte of its command to the last of its data set; the
        // time the handler takes is not the node's. After a cancel, one
        // bound holds for all that is left.
        if (!stop.CancelSent()) association.StartResponse();
        ResponseCommand command;
        std::string_view data;
        E_TransferSyntax xfer = EXS_Unknown;
        if (!ReceiveOrCutOff(association, messageID, maxResponseBytes, taken, commandBuffer,
                             dataBuffer, command, data, xfer))
            return std::nullopt;
        if (noteTimes) association.NoteResponse();
        if (!DimseStatus::IsPending(command.status)) {
            stop.Disarm();
            return command;
        }
        // What comes after the cancel is read, so the node's end can be,
        // and left out.
        if (stop.CancelSent() || !command.announcesDataSet) continue;
        DicomDataSet response;
        const OFCondition cond = ReadReceivedDataSet(data, xfer, response);
        if (cond.bad()) association.Fail(cond, kCommand, AfterResponses(taken));
        ++taken;
        if (onResponse) onResponse(response);
    }
}

}  // namespace lumo::dicom::detail
