#include "app/TFormTestWL.h"

#include <exception>
#include <utility>

#include "app/AssociationText.h"
#include "app/BatchType1.h"
#include "app/DateSelfTest.h"
#include "app/DiagnosticTab.h"
#include "app/FormControlDesign.h"
#include "app/FormSettings.h"
#include "app/LinesFile.h"
#include "app/NodeChooser.h"
#include "app/QueryIdentifier.h"
#include "app/ResponseListing.h"
#include "app/RetrievalTab.h"
#include "app/SavedResponses.h"
#include "app/StrToInt.h"
#include "app/VisibleText.h"
#include "app/WorklistCheck.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "support/FileInfo.h"

namespace lumo::app {

namespace {

const char* const kResultFileName = "ResultQuery.TXT";
const char* const kQueryFailed = "Erreur";

std::string TimeStamp(TDateTime time) { return FormatDateTime("hh:nn:ss.zzz", time); }

// "Exception dans LaunchQuery(True,STUDY):EClass:message", the query's
// worklist flag and level as the button passes them: a listing that stopped
// on a response it could not show, or a save that failed. The operator sees
// the blocks before it; the log says why it stopped.
void LogListingFailure(QueryLevel level, const std::string& failure) {
    const char* worklist = level == QueryLevel::Worklist ? "True" : "False";
    AppLogger().Log(std::string("Exception dans LaunchQuery(") + worklist + "," + LevelText(level) +
                        "):" + VisibleText(failure),
                    LogLevel::Error, 0);
}

}  // namespace

TFormTestWL::TFormTestWL(FormHost& host)
    : DicomViewer1(controls_, "DicomViewer1", host.FormDispatcher()),
      host_(host),
      connectionFields_({&EditConnectTimeout, &EditAssocTimeout, &EditResponseTimeout, &EditMaxPDU,
                         &EditMaxResults}),
      runs_([this](bool idle) { SetInputsEnabled(idle); }) {
    ButtonArreter.Enabled = false;
    MemoDest.Lines.Add("MemoDest");
    OpenDialogCFIND.DefaultExt = "*.*";
    SetLists();
    BindHandlers();
    ShowConnectionFields();
}

TFormTestWL::~TFormTestWL() {
    // No event may reach a form that is going away.
    DicomViewer1.Viewer.ViewerStop();
}

void TFormTestWL::SetLists() {
    cboModalite.Items = {"CR", "US", "CT", "RF", "OT", "SC", "MR", "XA", "MG"};
    cboCompareKind.Items = {"worklist", "patient", "study", "series", "image"};
    cboRetrieveLevel.Items = {"patient", "study", "series", "image"};
    cboTLSVerify.Items = {"require", "chain", "ignore"};
    cboTransport.Items = {TransportName(QueryTransport::Dimse),
                          TransportName(QueryTransport::DicomWeb)};
    for (const dicom::TlsProfile profile :
         {dicom::TlsProfile::Bcp195Nd, dicom::TlsProfile::Bcp195, dicom::TlsProfile::Bcp195Extended,
          dicom::TlsProfile::Aes, dicom::TlsProfile::Null})
        cboTLSProfile.Items.push_back(dicom::TlsProfileName(profile));
}

void TFormTestWL::BindHandlers() {
    const auto bind = [this](TButton& button, void (TFormTestWL::*handler)(TControl&)) {
        button.OnClick = [this, handler](TControl& sender) { (this->*handler)(sender); };
    };
    bind(ButtonWL, &TFormTestWL::ButtonWLClick);
    bind(ButtonCFindStudyStudy, &TFormTestWL::ButtonWLClick);
    bind(ButtonCFindPatient, &TFormTestWL::ButtonCFindPatientClick);
    bind(ButtonCFindStudySeries, &TFormTestWL::ButtonCFindStudySeriesClick);
    bind(ButtonCFindStudyImage, &TFormTestWL::ButtonCFindStudyImageClick);
    bind(Button1, &TFormTestWL::Button1Click);
    bind(Button2, &TFormTestWL::Button2Click);
    bind(ButtonCFINDType1, &TFormTestWL::ButtonCFINDType1Click);
    bind(Button5, &TFormTestWL::Button5Click);
    bind(Button6, &TFormTestWL::Button6Click);
    bind(Button3, &TFormTestWL::Button3Click);
    bind(bTestDate, &TFormTestWL::bTestDateClick);
    bind(ButtonEcho, &TFormTestWL::ButtonEchoClick);
    bind(ButtonSonder, &TFormTestWL::ButtonSonderClick);
    bind(ButtonProfil, &TFormTestWL::ButtonProfilClick);
    bind(ButtonExporter, &TFormTestWL::ButtonExporterClick);
    bind(ButtonComparer, &TFormTestWL::ButtonComparerClick);
    bind(ButtonCMove, &TFormTestWL::ButtonCMoveClick);
    bind(ButtonCGet, &TFormTestWL::ButtonCMoveClick);
    ListBoxResult.OnDblClick = [this](TControl& sender) { ListBoxResultDblClick(sender); };
    bind(ButtonCopierRapport, &TFormTestWL::ButtonCopierRapportClick);
    bind(ButtonEnregistrerNoeud, &TFormTestWL::ButtonEnregistrerNoeudClick);
    cboNoeud.OnSelect = [this](TControl& sender) { cboNoeudSelect(sender); };
    ButtonArreter.OnClick = [this](TControl&) { RequestStop(); };

    DicomViewer1.Viewer.OnAssociationRequest2 =
        [this](dicom::DicomViewer& sender, dicom::DicomConnection& connection, bool& isOK) {
            DicomViewer1AssociationRequest2(sender, connection, isOK);
        };
    DicomViewer1.Viewer.OnQueryRequest = [this](dicom::DicomViewer& sender,
                                                dicom::DicomConnection& connection) {
        RunHandler([&] { DicomViewer1QueryRequest(sender, connection); });
    };
}

bool TFormTestWL::RunHandler(const std::function<void()>& handler) {
    bool ok = true;
    try {
        handler();
    } catch (const std::exception& e) {
        ok = false;
        host_.ShowException(e.what());
    }
    host_.Changed();
    return ok;
}

void TFormTestWL::FormCreate() {
    ButtonCFINDType1.Caption = FindControlDesign(ButtonCFINDType1.Name)->caption;
    EditDate.Text = FormatDateTime("yyyymmdd", Now());
    LoadFormSettings(*this);
    ListBookNodes(*this);

    const std::vector<std::string> params = CommandLineParams();
    if (!params.empty() && params[0] == "LISTEN") {
        const std::int32_t port = StrToInt(params.size() > 1 ? params[1] : std::string());
        // Unfit TLS files are reported in words, and the listener does not
        // start; the window opens all the same.
        try {
            dicom::CheckTlsFiles(ListenTls, dicom::TlsSide::Acceptor);
            DicomViewer1.Viewer.SetTls(ListenTls);
            listening_ = DicomViewer1.Viewer.ViewerListen(port);
        } catch (const Exception& e) {
            host_.ShowException("TLS du mode écoute : " + e.Message());
        }
    }
    Form.Caption += " - v." + GetFileVersionText(ProgramFileName(), false);
    AppLogger().Log("Ouverture LUMO4410", LogLevel::Startup, 0);
}

void TFormTestWL::FormDestroy() {
    if (WriteBackSettings) SaveFormSettings(*this);
}

void TFormTestWL::ApplyListenSettings() {
    ConnectionValues values{QueryTimeouts, QueryMaxPdu, QueryLimits.maxResults};
    connectionFields_.ApplyValid(values);
    DicomViewer1.Viewer.SetTimeouts(
        static_cast<int>(SettingValue(ConnectionSetting::AssocTimeout, values)),
        static_cast<int>(SettingValue(ConnectionSetting::ResponseTimeout, values)));
    dicom::ViewerLimits limits;
    limits.maxAssociations = static_cast<int>(ListenLimits.maxAssociations);
    limits.maxAssociationsPerAddress = static_cast<int>(ListenLimits.maxAssociationsPerAddress);
    limits.maxIdentifierBytes = listenIdentifierBytes_;
    DicomViewer1.Viewer.SetLimits(limits);
    relayPlaces_.SetBound(static_cast<int>(ListenLimits.maxRelayedQueries));
}

void TFormTestWL::ShowConnectionFields() {
    connectionFields_.Show({QueryTimeouts, QueryMaxPdu, QueryLimits.maxResults});
}

// Only what starts a handler is disabled: the lists stay scrollable.
void TFormTestWL::SetInputsEnabled(bool enabled) {
    for (TControl* control : Controls()) {
        switch (control->Kind) {
            case ControlKind::Edit:
            case ControlKind::ComboBox:
            case ControlKind::CheckBox:
            case ControlKind::Button:
                control->Enabled = enabled;
                break;
            default:
                break;
        }
    }
    ButtonArreter.Enabled = !enabled;
    host_.Changed();
}

void TFormTestWL::ButtonWLClick(TControl& sender) {
    PressQueryButton(&sender == &ButtonWL ? QueryLevel::Worklist : QueryLevel::Study);
}

void TFormTestWL::ButtonCFindPatientClick(TControl&) { PressQueryButton(QueryLevel::Patient); }

void TFormTestWL::ButtonCFindStudySeriesClick(TControl&) { PressQueryButton(QueryLevel::Series); }

void TFormTestWL::ButtonCFindStudyImageClick(TControl&) { PressQueryButton(QueryLevel::Image); }

void TFormTestWL::Button1Click(TControl&) {
    host_.ShowMessage(ApplicationTitle(), "Pas encore implémentée", MessageKind::Plain);
}

void TFormTestWL::Button2Click(TControl&) {
    host_.ShowMessage(ApplicationTitle(), "Pas encore implémenté", MessageKind::Plain);
}

void TFormTestWL::ButtonCFINDType1Click(TControl&) { RunBatchType1(*this); }

// The result file is named relative to the current folder, not the
// program's: it lands where the operator started the console (or in the
// files' folder of the window started from its desktop entry).
void TFormTestWL::Button5Click(TControl&) {
    SaveLinesToFile(FilesFolder + kResultFileName, ListBoxResult.Items);
}

void TFormTestWL::Button6Click(TControl&) {
    // Read in full before the list is touched: a file that cannot be read
    // leaves the list as it was.
    ListBoxResult.Items.Assign(LoadLinesFromFile(FilesFolder + kResultFileName).lines);
}

void TFormTestWL::Button3Click(TControl&) { RunWorklistCheck(*this); }

void TFormTestWL::bTestDateClick(TControl&) {
    ListDateSelfTest(ListBoxResult.Items, EditDate.Text);
}

void TFormTestWL::ButtonEchoClick(TControl&) {
    diagnosticSucceeded_ = false;
    diagnosticSucceeded_ = EchoNode(*this);
}

void TFormTestWL::ButtonSonderClick(TControl&) {
    diagnosticSucceeded_ = false;
    diagnosticSucceeded_ = ProbeNode(*this);
}

void TFormTestWL::ButtonProfilClick(TControl&) {
    diagnosticSucceeded_ = false;
    const std::optional<NodeProfile> profile = ProfileNode(*this);
    diagnosticSucceeded_ = profile && profile->reached;
}

void TFormTestWL::ButtonExporterClick(TControl&) { ExportLastResponses(*this); }

void TFormTestWL::ButtonComparerClick(TControl&) { CompareWithSecondNode(*this); }

void TFormTestWL::ButtonCMoveClick(TControl& sender) {
    RunRetrieval(*this, &sender == &ButtonCMove ? QueryService::Move : QueryService::Get);
}

void TFormTestWL::ListBoxResultDblClick(TControl&) { FillKeysFromBlock(*this); }

void TFormTestWL::ButtonCopierRapportClick(TControl&) { CopyExchangeReport(*this); }

void TFormTestWL::cboNoeudSelect(TControl&) { ChooseBookNode(*this); }

void TFormTestWL::ButtonEnregistrerNoeudClick(TControl&) { SaveFieldsAsNode(*this); }

void TFormTestWL::DicomViewer1AssociationRequest2(dicom::DicomViewer&, dicom::DicomConnection&,
                                                  bool& isOK) {
    isOK = true;
}

void TFormTestWL::DicomViewer1QueryRequest(dicom::DicomViewer&,
                                           dicom::DicomConnection& connection) {
    AnswerIncomingQuery(*this, connection);
}

QueryRequest TFormTestWL::QueryRequestFromFields(QueryLevel level) const {
    QueryRequest request;
    request.level = level;
    request.node.address = EditIP.Text;
    request.node.port = StrToInt(EditPort.Text);
    request.node.calledAETitle = EditAETitle.Text;
    request.node.callingAETitle = EditCallingAETitle.Text;
    request.node.limits = QueryLimits;
    ConnectionValues values{QueryTimeouts, QueryMaxPdu, QueryLimits.maxResults};
    connectionFields_.Apply(values);
    request.node.timeouts = values.timeouts;
    request.node.maxPdu = values.maxPdu;
    request.node.limits.maxResults = values.maxResults;
    request.node.tls = TlsOfSettings(TlsSettingsOfFields(*this));
    request.transport = ParseTransport(cboTransport.Text);
    request.node.dicomWebUrl = EditDicomWebURL.Text;
    request.node.httpUser = EditHttpUser.Text;
    request.keys = {EditAccession.Text,     EditDossier.Text,   EditNomPatient.Text,
                    EditNomMedRef.Text,     EditDate.Text,      EditNaissance.Text,
                    EditStudyUID.Text,      EditSeriesUID.Text, cboModalite.Text,
                    EditSOPInstanceUID.Text};
    // The save files are written from the responses once the query is over.
    request.keepResponses = KeepResponses || cbSaveResults.Checked;
    return request;
}

void TFormTestWL::PressQueryButton(QueryLevel level) {
    const RunState::Scope running(runs_);
    const TDateTime requested = Now();
    lblDHDemande.Caption = TimeStamp(requested);
    lblDHReponse.Caption.clear();
    host_.ProcessMessages();
    LaunchQuery(level);
    lastQuery_.requested = requested;
    host_.QueryListed();
}

void TFormTestWL::LaunchQuery(QueryLevel level) {
    ListBoxResult.Items.Clear();
    lastQuery_ = QueryOutcome();
    try {
        lastQuery_.request = QueryRequestFromFields(level);
    } catch (const Exception& e) {
        // Nothing was sent; say so rather than leave an empty list.
        lastQuery_.failure = QueryFailure::Of(e);
        ShowOutcome(nullptr);
        return;
    }
    try {
        RunAndList();
    } catch (const std::exception& e) {
        // A failure of the listing or of a save, not of the query: what is
        // listed stays, and the log says why it stopped.
        LogListingFailure(level, ExceptionClassName(e) + ":" + e.what());
    }
}

void TFormTestWL::RunAndList() {
    const dicom::DicomDataSet identifier = BuildIdentifier(lastQuery_.request);
    // Without save files, each block is listed as its response arrives,
    // while the node prepares the next one. Save files are written after a
    // successful query only, each before its block, so that listing waits
    // for the end.
    std::optional<ResponseLister> lister;
    if (!cbSaveResults.Checked) lister.emplace(lastQuery_.request.level);
    // A front end that prints each block as it is listed takes it at once.
    if (lister && host_.TakesBlocksAsListed())
        lister->PassOn([this](const TStrings& lines) { host_.BlocksListed(lines); });
    const auto onResponse = [&](const dicom::DicomDataSet& response, int number) {
        if (lister) (*lister)(response);
        if (EachResponse) EachResponse(response, number);
    };
    // The window shows the blocks listed so far, or a count of the
    // responses when they are listed at the end.
    const auto progress = [&](int received) {
        TStrings& shown = ListBoxResult.Items;
        if (lister) return lister->MoveNewLines(shown);
        shown.Clear();
        shown.Add(std::to_string(received) + " réponses reçues");
    };
    const QueryRequest request = lastQuery_.request;
    RunQueryBusy(request, identifier, onResponse, runs_.QueryStopSource().get_token(), progress);
    ShowExchange({lastQuery_.report}, true);
    ShowOutcome(lister ? &*lister : nullptr);
}

std::optional<RelayedQuery> TFormTestWL::BeginRelayedQuery() {
    const TDateTime requested = Now();
    lblDHDemande.Caption = TimeStamp(requested);
    lblDHReponse.Caption.clear();
    ListBoxResult.Items.Clear();
    try {
        RelayedQuery query{
            QueryRequestFromFields(QueryLevel::Worklist), {}, !cbSaveResults.Checked, requested};
        query.identifier = BuildIdentifier(query.request);
        return query;
    } catch (const Exception& e) {
        // Nothing is sent; the list says why, as LaunchQuery does.
        lastQuery_ = QueryOutcome();
        lastQuery_.failure = QueryFailure::Of(e);
        lastQuery_.requested = requested;
        ShowOutcome(nullptr);
        host_.QueryListed();
        return std::nullopt;
    }
}

void TFormTestWL::EndRelayedQuery(QueryOutcome outcome, ResponseLister* listed) {
    lastQuery_ = std::move(outcome);
    // Another relayed query may have begun or ended since: the labels and
    // the list are this one's alone (its lister listed off the form).
    lblDHDemande.Caption = TimeStamp(lastQuery_.requested);
    ListBoxResult.Items.Clear();
    try {
        // The relay writes its own lines to the log for every request it
        // serves; its reports stay on the tab.
        ShowExchange({lastQuery_.report}, false);
        ShowOutcome(listed);
    } catch (const std::exception& e) {
        LogListingFailure(QueryLevel::Worklist, ExceptionClassName(e) + ":" + e.what());
    }
    host_.QueryListed();
}

void TFormTestWL::ShowOutcome(ResponseLister* listed) {
    TStrings& lines = ListBoxResult.Items;
    const std::optional<QueryFailure>& failure = lastQuery_.failure;
    lblDHReponse.Caption = failure ? kQueryFailed : TimeStamp(*lastQuery_.replied);
    // The blocks a lister made are in the list already, or about to be;
    // anything else shown meanwhile (a count) goes.
    if (!listed) lines.Clear();
    // What arrived before a failure is listed all the same, then the error.
    const std::string cancel = CancelLine(lastQuery_);
    if (lastQuery_.ResponseCount() == 0) {
        if (!failure && cancel.empty()) lines.Add(kNoResult);
    } else if (listed) {
        listed->MoveNewLines(lines);
        if (listed->Failed()) LogListingFailure(lastQuery_.request.level, listed->Failure());
    } else {
        SaveAndListResponses(lines, lastQuery_.responses, lastQuery_.request.level, FilesFolder);
    }
    if (!cancel.empty()) lines.Add(cancel);
    if (const std::string truncated = TruncationLine(lastQuery_); !truncated.empty())
        lines.Add(truncated);
    if (!failure) return;
    lines.Add(failure->ClassName());
    lines.Add(VisibleText(failure->message));
}

const QueryOutcome& TFormTestWL::RunQueryBusy(const QueryRequest& request,
                                              const dicom::DicomDataSet& identifier,
                                              const ResponseHandler& onResponse,
                                              std::stop_token stop,
                                              const std::function<void(int)>& progress,
                                              const RetrievalHandler& onRetrieval) {
    std::atomic<int> received{0};
    const auto counted = [&](const dicom::DicomDataSet& response, int number) {
        received.store(number, std::memory_order_relaxed);
        if (onResponse) onResponse(response, number);
    };
    QueryOutcome outcome;
    host_.RunBusy(
        [&] { outcome = RunQuery(request, identifier, counted, std::move(stop), onRetrieval); },
        [&] {
            if (!progress) return;
            progress(received.load(std::memory_order_relaxed));
            host_.Changed();
        });
    lastQuery_ = std::move(outcome);
    return lastQuery_;
}

void TFormTestWL::ShowExchange(const std::vector<dicom::AssociationReport>& reports, bool log) {
    MemoDiagnostic.Lines.Clear();
    for (const dicom::AssociationReport& report : reports) {
        if (MemoDiagnostic.Lines.Count() > 0) MemoDiagnostic.Lines.Add("");
        for (const std::string& line : ReportLines(report)) {
            MemoDiagnostic.Lines.Add(line);
            if (log) AppLogger().Log(line, LogLevel::Startup, 0);
        }
    }
}

}  // namespace lumo::app
