#include "dicom/net/detail/ResponseReceiver.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/detail/PlainCommand.h"

namespace lumo::dicom::detail {

namespace {

// The next PDV, reading the next PDU once the last one is used up; the
// conditions are those of DCMTK's own receiving.
OFCondition NextPdv(T_ASC_Association* assoc, DUL_PDV& pdv) {
    if (DUL_NextPDV(&assoc->DULassociation, &pdv).good()) return EC_Normal;
    OFCondition cond = DUL_ReadPDVs(&assoc->DULassociation, nullptr, DUL_BLOCK, 0);
    if (cond != DUL_PDATAPDUARRIVED) {
        if (cond == DUL_PEERREQUESTEDRELEASE || cond == DUL_PEERABORTEDASSOCIATION) return cond;
        return makeDcmnetSubCondition(DIMSEC_READPDVFAILED, OF_error, "DIMSE Read PDV failed",
                                      cond);
    }
    cond = DUL_NextPDV(&assoc->DULassociation, &pdv);
    if (cond.bad())
        return makeDcmnetSubCondition(DIMSEC_READPDVFAILED, OF_error, "DIMSE Read PDV failed",
                                      cond);
    return EC_Normal;
}

OFCondition Failed(const std::string& text) {
    return makeDcmnetCondition(DIMSEC_RECEIVEFAILED, OF_error, text.c_str());
}

// The PDVs of one part of a message (`what`: its command or its data set),
// put together in `buffer` unless the part is one PDV, and the presentation
// context they came on. Counts the bytes as they come: a part larger than
// `maxBytes` fails at the PDV that passes the bound, before it is kept.
OFCondition GatherPdvs(T_ASC_Association* assoc, DUL_DATAPDV type, const char* what,
                       std::size_t maxBytes, std::string& buffer, std::string_view& bytes,
                       T_ASC_PresentationContextID& presID) {
    buffer.clear();
    bytes = std::string_view();
    for (int count = 0;; ++count) {
        DUL_PDV pdv{};
        const OFCondition cond = NextPdv(assoc, pdv);
        if (cond.bad()) return cond;
        if (pdv.pdvType != type) return DIMSE_UNEXPECTEDPDVTYPE;
        if (count == 0) {
            presID = pdv.presentationContextID;
        } else if (pdv.presentationContextID != presID) {
            return Failed(std::string("DIMSE: Different presentation contexts inside a ") + what);
        }
        if (pdv.fragmentLength % 2 != 0) return Failed("DIMSE: Odd fragment length");
        const std::size_t length = pdv.fragmentLength;
        if (length > maxBytes - buffer.size())
            return Failed(std::string("response ") + what + " larger than " +
                          std::to_string(maxBytes) + " bytes");
        const char* data = static_cast<const char*>(pdv.data);
        if (count == 0 && pdv.lastPDV) {
            bytes = std::string_view(length == 0 ? "" : data, length);
            return EC_Normal;
        }
        if (length > 0) buffer.append(data, length);
        if (pdv.lastPDV) {
            bytes = buffer;
            return EC_Normal;
        }
    }
}

// The transfer syntax of a presentation context the association accepted.
OFCondition AcceptedTransferSyntax(T_ASC_Association* assoc, T_ASC_PresentationContextID presID,
                                   E_TransferSyntax& xfer) {
    T_ASC_PresentationContext context{};
    const OFCondition cond = ASC_findAcceptedPresentationContext(assoc->params, presID, &context);
    if (cond.bad())
        return makeDcmnetSubCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                      "DIMSE Failed to receive message", cond);
    xfer = DcmXfer(context.acceptedTransferSyntax).getXfer();
    return EC_Normal;
}

// The tags of (0000,0901), which a node sends with some failure statuses.
std::vector<std::uint32_t> OffendingElements(DcmDataset& set) {
    std::vector<std::uint32_t> tags;
    DcmElement* element = nullptr;
    if (set.findAndGetElement(DCM_OffendingElement, element).bad() || element == nullptr)
        return tags;
    for (unsigned long i = 0; i < element->getVM(); ++i) {
        DcmTagKey key;
        if (element->getTagVal(key, i).good())
            tags.push_back(std::uint32_t{key.getGroup()} << 16 | key.getElement());
    }
    return tags;
}

bool IsFindOrEcho(std::uint16_t field) {
    return field == DIMSE_C_FIND_RSP || field == DIMSE_C_ECHO_RSP;
}

std::optional<std::uint16_t> OptionalUint16(DcmDataset& set, const DcmTagKey& tag) {
    Uint16 value = 0;
    if (set.findAndGetUint16(tag, value).bad()) return std::nullopt;
    return value;
}

std::string Text(DcmDataset& set, const DcmTagKey& tag) {
    OFString text;
    if (set.findAndGetOFString(tag, text).bad()) return {};
    return text.c_str();
}

// The fields of a retrieval's response or of a C-STORE-RQ, as far as they
// are there: the exchange judges what is missing.
void ParseRetrieval(DcmDataset& set, ResponseCommand& command) {
    const std::optional<std::uint16_t> dataSetType = OptionalUint16(set, DCM_CommandDataSetType);
    command.announcesDataSet = dataSetType && *dataSetType != DIMSE_DATASET_NULL;
    if (command.commandField == DIMSE_C_ECHO_RQ) {
        const std::optional<std::uint16_t> messageID = OptionalUint16(set, DCM_MessageID);
        command.messageID = messageID.value_or(0);
        command.affectedSopClassUID = Text(set, DCM_AffectedSOPClassUID);
        command.complete = messageID.has_value();
        return;
    }
    if (command.commandField == DIMSE_C_STORE_RQ) {
        const std::optional<std::uint16_t> messageID = OptionalUint16(set, DCM_MessageID);
        command.messageID = messageID.value_or(0);
        command.affectedSopClassUID = Text(set, DCM_AffectedSOPClassUID);
        command.affectedSopInstanceUID = Text(set, DCM_AffectedSOPInstanceUID);
        command.moveOriginatorAETitle = Text(set, DCM_MoveOriginatorApplicationEntityTitle);
        command.complete = messageID && dataSetType && !command.affectedSopClassUID.empty() &&
                           !command.affectedSopInstanceUID.empty();
        return;
    }
    const std::optional<std::uint16_t> respondedTo =
        OptionalUint16(set, DCM_MessageIDBeingRespondedTo);
    const std::optional<std::uint16_t> status = OptionalUint16(set, DCM_Status);
    command.messageIDBeingRespondedTo = respondedTo.value_or(0);
    command.status = status.value_or(0);
    command.remaining = OptionalUint16(set, DCM_NumberOfRemainingSuboperations);
    command.completed = OptionalUint16(set, DCM_NumberOfCompletedSuboperations);
    command.failed = OptionalUint16(set, DCM_NumberOfFailedSuboperations);
    command.warning = OptionalUint16(set, DCM_NumberOfWarningSuboperations);
    command.errorComment = Text(set, DCM_ErrorComment);
    command.offendingElements = OffendingElements(set);
    command.complete = respondedTo && status && dataSetType;
}

// The fields of a C-FIND-RSP or a C-ECHO-RSP that the exchange reads, or
// of a retrieval's messages.
OFCondition ParseResponse(DcmDataset& set, ResponseCommand& command) {
    Uint16 field = 0;
    if (set.findAndGetUint16(DCM_CommandField, field).bad()) return DIMSE_PARSEFAILED;
    command.commandField = field;
    if (field == DIMSE_C_MOVE_RSP || field == DIMSE_C_GET_RSP || field == DIMSE_C_STORE_RQ ||
        field == DIMSE_C_ECHO_RQ) {
        ParseRetrieval(set, command);
        return EC_Normal;
    }
    if (!IsFindOrEcho(field)) return EC_Normal;
    Uint16 messageID = 0;
    Uint16 dataSetType = 0;
    Uint16 status = 0;
    if (set.findAndGetUint16(DCM_MessageIDBeingRespondedTo, messageID).bad() ||
        set.findAndGetUint16(DCM_CommandDataSetType, dataSetType).bad() ||
        set.findAndGetUint16(DCM_Status, status).bad())
        return DIMSE_PARSEFAILED;
    command.messageIDBeingRespondedTo = messageID;
    command.announcesDataSet = dataSetType != DIMSE_DATASET_NULL;
    command.status = status;
    OFString comment;
    if (set.findAndGetOFString(DCM_ErrorComment, comment).good())
        command.errorComment = comment.c_str();
    command.offendingElements = OffendingElements(set);
    return EC_Normal;
}

}  // namespace

OFCondition ReceiveCommand(T_ASC_Association* assoc, std::size_t maxBytes, std::string& buffer,
                           ResponseCommand& command, T_ASC_PresentationContextID* contextID) {
    command = ResponseCommand();
    std::string_view bytes;
    T_ASC_PresentationContextID presID = 0;
    OFCondition cond =
        GatherPdvs(assoc, DUL_COMMANDPDV, "command", maxBytes, buffer, bytes, presID);
    if (contextID != nullptr) *contextID = presID;
    E_TransferSyntax xfer = EXS_Unknown;
    if (cond.good()) cond = AcceptedTransferSyntax(assoc, presID, xfer);
    if (cond.bad()) return cond;
    // The plain reading knows C-FIND and C-ECHO responses only.
    if (std::optional<ResponseCommand> plain = ReadPlainCommand(bytes);
        plain && IsFindOrEcho(plain->commandField)) {
        command = std::move(*plain);
        return EC_Normal;
    }
    // A command is always in implicit VR little endian, whatever the context.
    DcmDataset set;
    cond = ReadIntoDcmtk(bytes, EXS_LittleEndianImplicit, set, EGL_withoutGL);
    if (cond == NestedTooDeep()) return cond;
    if (cond.bad())
        return makeDcmnetSubCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                      "DIMSE: receiveCommand: cmdSet->read() Failed", cond);
    return ParseResponse(set, command);
}

OFCondition ReceiveDataSetBytes(T_ASC_Association* assoc, std::size_t maxBytes, std::string& buffer,
                                std::string_view& bytes, E_TransferSyntax& xfer) {
    T_ASC_PresentationContextID presID = 0;
    const OFCondition cond =
        GatherPdvs(assoc, DUL_DATASETPDV, "data set", maxBytes, buffer, bytes, presID);
    if (cond.bad()) return cond;
    return AcceptedTransferSyntax(assoc, presID, xfer);
}

}  // namespace lumo::dicom::detail
