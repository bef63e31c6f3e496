#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConnectionSettings.h"
#include "app/FormHost.h"
#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "app/QueryRun.h"
#include "app/Relay.h"
#include "app/ResponseListing.h"
#include "app/RunState.h"
#include "app/TControls.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/listener/DicomConnection.h"
#include "dicom/listener/DicomViewer.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/net/DicomTls.h"

namespace lumo::app {

// The console's main window without pixels: every control with its design
// name (the texts, places and marks of each come from the table of
// FormControlDesign.h), and the handlers that are the console's behaviour.
// A handler reads the fields, calls the unit that does the job (the query
// path, the worklist check, the batch, the relay, the Diagnostic tab, the
// settings) and shows the result. Owns its controls, the listener, the
// last recorded incoming connection, the places of the relayed queries and
// the run state. Used on one thread, the form's: the host's dispatcher
// brings the listener's events there; RequestStop and RelayedQueries alone
// may be used from any thread.
class TFormTestWL {
    // Made first, so that each control below adds itself as it is made.
    ControlList controls_;

  public:
    explicit TFormTestWL(FormHost& host);
    ~TFormTestWL();
    TFormTestWL(const TFormTestWL&) = delete;
    TFormTestWL& operator=(const TFormTestWL&) = delete;

    // The window itself.
    TControl Form{controls_, "FormTestWL", ControlKind::Form};
    std::string ActiveControl = "EditAccession";  // the input focus at start

    // Input block.
    TControl Panel2{controls_, "Panel2", ControlKind::Panel};
    TEdit EditCallingAETitle{controls_, "EditCallingAETitle"};
    TEdit EditIP{controls_, "EditIP"};
    TEdit EditPort{controls_, "EditPort"};
    TEdit EditAETitle{controls_, "EditAETitle"};
    TEdit EditAccession{controls_, "EditAccession"};
    TEdit EditDossier{controls_, "EditDossier"};
    TEdit EditNomPatient{controls_, "EditNomPatient"};
    TEdit EditNomMedRef{controls_, "EditNomMedRef"};
    TEdit EditDate{controls_, "EditDate"};
    TEdit EditNaissance{controls_, "EditNaissance"};
    TEdit EditStudyUID{controls_, "EditStudyUID"};
    TComboBox cboModalite{controls_, "cboModalite"};
    TCheckBox cbSaveResults{controls_, "cbSaveResults"};
    TEdit EditSeriesUID{controls_, "EditSeriesUID"};
    TLabel lblDHDemande{controls_, "lblDHDemande"};
    TLabel lblDHReponse{controls_, "lblDHReponse"};
    TButton ButtonWL{controls_, "ButtonWL"};
    TButton ButtonCFindStudyStudy{controls_, "ButtonCFindStudyStudy"};
    TButton ButtonCFindPatient{controls_, "ButtonCFindPatient"};
    TButton ButtonCFindStudySeries{controls_, "ButtonCFindStudySeries"};
    TButton ButtonCFindStudyImage{controls_, "ButtonCFindStudyImage"};
    TButton Button1{controls_, "Button1"};
    TButton Button2{controls_, "Button2"};
    TButton Button3{controls_, "Button3"};
    TButton bTestDate{controls_, "bTestDate"};
    TButton Button5{controls_, "Button5"};
    TButton Button6{controls_, "Button6"};
    TButton ButtonArreter{controls_, "ButtonArreter"};
    TComboBox cboNoeud{controls_, "cboNoeud"};
    TButton ButtonEnregistrerNoeud{controls_, "ButtonEnregistrerNoeud"};

    // Batch panel, tab "Type 1".
    TControl Panel3{controls_, "Panel3", ControlKind::Panel};
    TControl PageControl1{controls_, "PageControl1", ControlKind::PageControl};
    TControl TabSheet1{controls_, "TabSheet1", ControlKind::TabSheet};
    TLabel Label41{controls_, "Label41"};
    TButton ButtonCFINDType1{controls_, "ButtonCFINDType1"};
    TLabel Label46{controls_, "Label46"};
    TLabel Label44{controls_, "Label44"};
    TEdit EditNomData1{controls_, "EditNomData1"};
    TLabel Label45{controls_, "Label45"};
    TEdit EditNomData2{controls_, "EditNomData2"};
    TEdit EditSQL{controls_, "EditSQL"};
    TListBox ListBoxOrig{controls_, "ListBoxOrig"};
    TMemo MemoDest{controls_, "MemoDest"};
    TLabel LabelBatchProgress{controls_, "LabelBatchProgress"};

    // The tab "Diagnostic".
    TControl TabSheet2{controls_, "TabSheet2", ControlKind::TabSheet};
    TButton ButtonEcho{controls_, "ButtonEcho"};
    TButton ButtonSonder{controls_, "ButtonSonder"};
    TButton ButtonProfil{controls_, "ButtonProfil"};
    TLabel lblConnectTimeout{controls_, "lblConnectTimeout"};
    TEdit EditConnectTimeout{controls_, "EditConnectTimeout"};
    TLabel lblAssocTimeout{controls_, "lblAssocTimeout"};
    TEdit EditAssocTimeout{controls_, "EditAssocTimeout"};
    TLabel lblResponseTimeout{controls_, "lblResponseTimeout"};
    TEdit EditResponseTimeout{controls_, "EditResponseTimeout"};
    TLabel lblMaxPDU{controls_, "lblMaxPDU"};
    TEdit EditMaxPDU{controls_, "EditMaxPDU"};
    TLabel lblMaxResults{controls_, "lblMaxResults"};
    TEdit EditMaxResults{controls_, "EditMaxResults"};
    TMemo MemoDiagnostic{controls_, "MemoDiagnostic"};
    TButton ButtonExporter{controls_, "ButtonExporter"};
    TLabel lblSecondNode{controls_, "lblSecondNode"};
    TEdit EditIP2{controls_, "EditIP2"};
    TEdit EditPort2{controls_, "EditPort2"};
    TEdit EditAETitle2{controls_, "EditAETitle2"};
    TComboBox cboCompareKind{controls_, "cboCompareKind"};
    TButton ButtonComparer{controls_, "ButtonComparer"};
    TCheckBox cbTLS{controls_, "cbTLS"};
    TComboBox cboTLSVerify{controls_, "cboTLSVerify"};
    TComboBox cboTLSProfile{controls_, "cboTLSProfile"};
    TEdit EditTLSCA{controls_, "EditTLSCA"};
    TEdit EditTLSCert{controls_, "EditTLSCert"};
    TEdit EditTLSKey{controls_, "EditTLSKey"};
    TLabel lblTLSVerify{controls_, "lblTLSVerify"};
    TLabel lblTLSProfile{controls_, "lblTLSProfile"};
    TLabel lblTLSCA{controls_, "lblTLSCA"};
    TLabel lblTLSCert{controls_, "lblTLSCert"};
    TLabel lblTLSKey{controls_, "lblTLSKey"};
    TLabel lblIP2{controls_, "lblIP2"};
    TLabel lblPort2{controls_, "lblPort2"};
    TLabel lblAETitle2{controls_, "lblAETitle2"};
    TLabel lblCompareKind{controls_, "lblCompareKind"};
    TLabel lblRapport{controls_, "lblRapport"};
    TButton ButtonCopierRapport{controls_, "ButtonCopierRapport"};
    TLabel lblDicomWeb{controls_, "lblDicomWeb"};
    TComboBox cboTransport{controls_, "cboTransport"};
    TLabel lblHttpUser{controls_, "lblHttpUser"};
    TEdit EditHttpUser{controls_, "EditHttpUser"};
    TLabel lblDicomWebURL{controls_, "lblDicomWebURL"};
    TEdit EditDicomWebURL{controls_, "EditDicomWebURL"};

    // The tab "Récupération".
    TControl TabSheet3{controls_, "TabSheet3", ControlKind::TabSheet};
    TLabel lblRetrieveLevel{controls_, "lblRetrieveLevel"};
    TComboBox cboRetrieveLevel{controls_, "cboRetrieveLevel"};
    TCheckBox cbVerify{controls_, "cbVerify"};
    TLabel lblMoveDest{controls_, "lblMoveDest"};
    TEdit EditMoveDest{controls_, "EditMoveDest"};
    TLabel lblStorePort{controls_, "lblStorePort"};
    TEdit EditStorePort{controls_, "EditStorePort"};
    TLabel lblStoreFolder{controls_, "lblStoreFolder"};
    TEdit EditStoreFolder{controls_, "EditStoreFolder"};
    TLabel lblSOPInstanceUID{controls_, "lblSOPInstanceUID"};
    TEdit EditSOPInstanceUID{controls_, "EditSOPInstanceUID"};
    TButton ButtonCMove{controls_, "ButtonCMove"};
    TButton ButtonCGet{controls_, "ButtonCGet"};

    // Result list.
    TControl Panel1{controls_, "Panel1", ControlKind::Panel};
    TListBox ListBoxResult{controls_, "ListBoxResult"};

    // Not drawn.
    TOpenDialog OpenDialogCFIND{controls_, "OpenDialogCFIND"};
    TDicomViewer DicomViewer1;

    // Every control above, in declaration order, and a lookup by design name
    // (nullptr when there is none).
    const std::vector<TControl*>& Controls() const { return controls_.Items(); }
    TControl* FindControl(std::string_view name) const { return controls_.Find(name); }

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void ButtonWLClick(TControl& sender);  // ButtonWL and ButtonCFindStudyStudy
    void ButtonCFindPatientClick(TControl& sender);
    void ButtonCFindStudySeriesClick(TControl& sender);
    void ButtonCFindStudyImageClick(TControl& sender);
    void Button1Click(TControl& sender);
    void Button2Click(TControl& sender);
    // The batch of the tab "Type 1", the export of ListBoxResult to
    // "ResultQuery.TXT" and its load (a hidden button).
    void ButtonCFINDType1Click(TControl& sender);
    void Button5Click(TControl& sender);
    void Button6Click(TControl& sender);
    void Button3Click(TControl& sender);    // the worklist check
    void bTestDateClick(TControl& sender);  // the date self-test
    void ButtonEchoClick(TControl& sender);
    void ButtonSonderClick(TControl& sender);  // the node probe
    void ButtonProfilClick(TControl& sender);  // the node profile
    void ButtonExporterClick(TControl& sender);
    void ButtonComparerClick(TControl& sender);
    void ButtonCMoveClick(TControl& sender);  // and ButtonCGet: the retrieval
    void ListBoxResultDblClick(TControl& sender);
    void ButtonCopierRapportClick(TControl& sender);
    // The address book: a node chosen fills the connection fields; the
    // button keeps them under the chooser's name.
    void cboNoeudSelect(TControl& sender);
    void ButtonEnregistrerNoeudClick(TControl& sender);
    void DicomViewer1AssociationRequest2(dicom::DicomViewer& sender,
                                         dicom::DicomConnection& connection, bool& isOK);
    void DicomViewer1QueryRequest(dicom::DicomViewer& sender, dicom::DicomConnection& connection);

    // Runs a handler as a front end must: an error that leaves it is shown
    // as the standard error report and the form stays usable; the view is
    // told to refresh afterwards. Returns false when the handler raised.
    bool RunHandler(const std::function<void()>& handler);

    // How long the console's queries wait at each stage.
    dicom::DicomTimeouts QueryTimeouts;
    // The largest PDU the console says it takes.
    std::uint32_t QueryMaxPdu = dicom::kDefaultMaxPdu;
    // How large a response may be; the settings may change it (MaxResponseBytes).
    dicom::DicomLimits QueryLimits;
    // DICOM over TLS for the callers of listen mode, independent of the
    // queries' side; set before FormCreate, which starts the listener. A
    // C-MOVE's storage receiver takes it too.
    dicom::DicomTls ListenTls;
    // Listen mode's bounds; FormCreate reads them from the store.
    ListenBounds ListenLimits;
    // Gives the listener its bounds (ListenLimits) and its timeouts (those
    // of the connection fields: the association timeout bounds a caller's
    // association request, the response timeout each message it sends or
    // takes), for what comes next. FormCreate calls it; call it again after
    // changing them.
    void ApplyListenSettings();

    // How large one retrieved instance may be (MaxInstanceBytes).
    std::size_t RetrieveMaxInstanceBytes = std::size_t{256} << 20;

    // Whether listen mode started (the listener opened its port).
    bool Listening() const { return listening_; }
    // Whether an incoming request waits for the console's responses.
    bool HasPendingConnection() const { return PendingConnection.has_value(); }
    // Records the incoming request that waits (or, with nothing, that none does).
    void SetPendingConnection(std::optional<dicom::DicomConnection> connection) {
        PendingConnection = std::move(connection);
    }
    // `connection`'s request is over: it no longer waits, unless another
    // request was recorded since.
    void EndPendingConnection(const dicom::DicomConnection& connection) {
        if (PendingConnection && PendingConnection->GetImpl() == connection.GetImpl())
            PendingConnection.reset();
    }
    // The relayed queries under way and their bound. Any thread.
    RelayPlaces& RelayedQueries() { return relayPlaces_; }

    // Asks what runs to stop (the stop button, the window's close, a signal
    // to the command line): a query is cancelled at once, the batch stops
    // after the record under way and writes what it built. Any thread.
    void RequestStop() noexcept { runs_.RequestStop(); }
    bool StopRequested() const noexcept { return runs_.StopRequested(); }
    // Whether a query, the worklist check or the batch runs.
    bool Running() const { return runs_.Running(); }
    // What runs and how it stops, for the units that run on the form.
    RunState& Runs() { return runs_; }

    FormHost& Host() const { return host_; }

    // The request the fields make; a port that is not a whole number raises
    // EConvertError.
    QueryRequest QueryRequestFromFields(QueryLevel level) const;
    // Sets the last query's outcome (the retrieval, which runs outside
    // RunQueryBusy's listing).
    void SetLastQuery(QueryOutcome outcome) { lastQuery_ = std::move(outcome); }

    // A query button's press: stamps the request time, lets the window
    // repaint, runs the query and lets the front end show it.
    void PressQueryButton(QueryLevel level);

    // A relayed query's two halves on the form's thread, around its
    // exchange off it (app/Relay.h). The start: the request time shown, the
    // list emptied, the worklist request and its identifier made from the
    // fields as LaunchQuery makes them; a request the fields cannot make is
    // listed as the failure it is, and nothing is returned. The end: the
    // outcome becomes the last query and is listed whole, as a query button
    // lists it (`listed`: its blocks, built as the responses arrived; none:
    // saved and listed now), with its own request time.
    std::optional<RelayedQuery> BeginRelayedQuery();
    void EndRelayedQuery(QueryOutcome outcome, ResponseLister* listed);

    // Runs a query through the front end, which keeps the window alive
    // meanwhile and calls `progress` (if any) with the count of responses
    // so far every few tenths of a second, on the form's thread. The
    // outcome becomes the last query.
    const QueryOutcome& RunQueryBusy(const QueryRequest& request,
                                     const dicom::DicomDataSet& identifier,
                                     const ResponseHandler& onResponse, std::stop_token stop,
                                     const std::function<void(int)>& progress,
                                     const RetrievalHandler& onRetrieval = nullptr);

    // How the last query went: a query button's, the relay's or the
    // worklist check's. Empty until a query runs.
    const QueryOutcome& LastQuery() const { return lastQuery_; }
    // Whether the last echo answered Success, the last probe reached the
    // node and had an association accepted, or the last profile reached it.
    bool DiagnosticSucceeded() const { return diagnosticSucceeded_; }

    // The report of each association of the last exchange in MemoDiagnostic
    // and, with `log`, at the level of the opening line in the log.
    void ShowExchange(const std::vector<dicom::AssociationReport>& reports, bool log);

    // Whether a query's outcome holds its responses after the listing (the
    // export reads them again). The command line lets them go: it exports
    // them as they arrive (EachResponse), and a million listed responses
    // need not be held.
    bool KeepResponses = true;

    // What the front end does with each response of a query button's query
    // as it arrives, beside the listing: the command line's --json and
    // --csv write it out. Not called for a relayed query.
    ResponseHandler EachResponse;

    // Whether FormDestroy writes the connection settings back. The command
    // line reads them at start but leaves the store as it found it.
    bool WriteBackSettings = true;

    // Where "Save Results" (Logs/) and "Export Result" (ResultQuery.TXT)
    // write, with a trailing slash; empty: the current folder, as ever. The
    // window started from its desktop entry keeps them in its state folder.
    std::string FilesFolder;

  private:
    // The settings store reads and writes fields and bounds of its own.
    friend void LoadFormSettings(TFormTestWL& form);
    friend void SaveFormSettings(TFormTestWL& form);

    void LaunchQuery(QueryLevel level);
    void RunAndList();
    // The response time and the listing of the last query, `listed` as its
    // responses arrived or, without it, saved and listed now.
    void ShowOutcome(ResponseLister* listed);
    void ShowConnectionFields();
    void SetInputsEnabled(bool enabled);
    void BindHandlers();
    void SetLists();

    FormHost& host_;
    bool listening_ = false;
    std::optional<dicom::DicomConnection> PendingConnection;
    QueryOutcome lastQuery_;
    ConnectionFields connectionFields_;
    bool diagnosticSucceeded_ = false;
    RunState runs_;
    RelayPlaces relayPlaces_;
    std::size_t listenIdentifierBytes_ = 0;  // 0: the listener's default
};

}  // namespace lumo::app
