#include "app/cli/RetrieveCommand.h"

#include <string>

#include "app/RetrievalText.h"

namespace lumo::app {

int RetrievalExitStatus(const QueryOutcome& outcome, bool ran, std::FILE* err) {
    if (!ran || outcome.failure || !outcome.retrieval) return 1;
    const dicom::RetrieveResult& result = outcome.retrieval->result;
    if (outcome.report.cancel != dicom::CancelReason::None) {
        const std::string final = result.finalReceived ? RetrieveStatusText(result.status)
                                                       : "aucun, association interrompue";
        std::fprintf(err, "Statut final : %s\n", final.c_str());
        return 1;
    }
    if (!result.finalReceived) return 1;
    return outcome.retrieval->Shortfall() ? 3 : 0;
}

}  // namespace lumo::app
