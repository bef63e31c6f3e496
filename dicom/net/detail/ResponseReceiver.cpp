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

// The fields of a C-FIND-RSP or a C-ECHO-RSP that the exchange reads.
OFCondition ParseResponse(DcmDataset& set, ResponseCommand& command) {
    Uint16 field = 0;
    if (set.findAndGetUint16(DCM_CommandField, field).bad()) return DIMSE_PARSEFAILED;
    command.commandField = field;
    if (field != DIMSE_C_FIND_RSP && field != DIMSE_C_ECHO_RSP) return EC_Normal;
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
                           ResponseCommand& command) {
    command = ResponseCommand();
    std::string_view bytes;
    T_ASC_PresentationContextID presID = 0;
    OFCondition cond =
        GatherPdvs(assoc, DUL_COMMANDPDV, "command", maxBytes, buffer, bytes, presID);
    E_TransferSyntax xfer = EXS_Unknown;
    if (cond.good()) cond = AcceptedTransferSyntax(assoc, presID, xfer);
    if (cond.bad()) return cond;
    if (std::optional<ResponseCommand> plain = ReadPlainCommand(bytes)) {
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
