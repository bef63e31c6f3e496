#include "dicom/listener/detail/ListenerIdentifier.h"

#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dimse.h>

#include "dicom/data/detail/NestingScan.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/data/detail/ReceivedRules.h"

namespace lumo::dicom::detail {

namespace {

OFCondition ReceiveFailed(const char* why) {
    return makeDcmnetCondition(DIMSEC_RECEIVEFAILED, OF_error, why);
}

OFCondition ReadPdvFailed(const OFCondition& cond) {
    return makeDcmnetSubCondition(DIMSEC_READPDVFAILED, OF_error, "DIMSE Read PDV failed", cond);
}

}  // namespace

Gathering GatherIdentifier(const NextPdv& next, const SyntaxOf& syntaxOf, std::size_t maxBytes,
                           GatheredIdentifier& out, OFCondition& failure) {
    out.bytes.clear();
    for (bool first = true;; first = false) {
        DUL_PDV pdv{};
        failure = next(pdv);
        if (failure.bad()) return Gathering::Failed;
        if (pdv.pdvType != DUL_DATASETPDV) {
            failure = DIMSE_UNEXPECTEDPDVTYPE;
            return Gathering::Failed;
        }
        if (first) {
            out.presentationContext = pdv.presentationContextID;
            failure = syntaxOf(pdv.presentationContextID, out.xfer);
            if (failure.bad()) return Gathering::Failed;
        } else if (pdv.presentationContextID != out.presentationContext) {
            failure = ReceiveFailed("DIMSE: Different presentation contexts inside a data set");
            return Gathering::Failed;
        }
        if (pdv.fragmentLength % 2 != 0) {
            failure = ReceiveFailed("DIMSE: Odd fragment length");
            return Gathering::Failed;
        }
        if (pdv.fragmentLength > maxBytes - out.bytes.size()) {
            std::string().swap(out.bytes);
            return Gathering::TooLarge;
        }
        if (pdv.fragmentLength > 0)
            out.bytes.append(static_cast<const char*>(pdv.data), pdv.fragmentLength);
        if (pdv.lastPDV) return Gathering::Complete;
    }
}

NextPdv PdvsOf(T_ASC_Association* association, int timeoutSeconds) {
    return [association, timeoutSeconds](DUL_PDV& pdv) -> OFCondition {
        if (DUL_NextPDV(&association->DULassociation, &pdv).good()) return EC_Normal;
        if (!ASC_dataWaiting(association, timeoutSeconds)) return DIMSE_NODATAAVAILABLE;
        OFCondition cond =
            DUL_ReadPDVs(&association->DULassociation, nullptr, DUL_NOBLOCK, timeoutSeconds);
        if (cond != DUL_PDATAPDUARRIVED) {
            if (cond == DUL_PEERREQUESTEDRELEASE || cond == DUL_PEERABORTEDASSOCIATION) return cond;
            return ReadPdvFailed(cond);
        }
        cond = DUL_NextPDV(&association->DULassociation, &pdv);
        return cond.good() ? EC_Normal : ReadPdvFailed(cond);
    };
}

SyntaxOf SyntaxesOf(T_ASC_Association* association) {
    return [association](T_ASC_PresentationContextID id, E_TransferSyntax& xfer) -> OFCondition {
        T_ASC_PresentationContext context{};
        const OFCondition cond =
            ASC_findAcceptedPresentationContext(association->params, id, &context);
        if (cond.bad()) {
            return makeDcmnetSubCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                          "DIMSE Failed to receive message", cond);
        }
        xfer = DcmXfer(context.acceptedTransferSyntax).getXfer();
        if (xfer != EXS_Unknown) return EC_Normal;
        return makeDcmnetCondition(DIMSEC_UNSUPPORTEDTRANSFERSYNTAX, OF_error,
                                   "DIMSE Unsupported transfer syntax");
    };
}

IdentifierReading ReadIdentifier(const GatheredIdentifier& gathered, DicomDataSet& out) {
    // Before any reading: DCMTK's reader recurses once per level.
    if (!NestsWithin(gathered.bytes, gathered.xfer, kMaxNesting)) return IdentifierReading::TooDeep;
    try {
        if (ReadReceivedDataSet(gathered.bytes, gathered.xfer, out).bad()) {
            return IdentifierReading::Broken;
        }
    } catch (...) {
        return IdentifierReading::Undecodable;  // e.g. an undecodable character set
    }
    return IdentifierReading::Read;
}

}  // namespace lumo::dicom::detail
