#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConnectionSettings.h"
#include "app/FormHost.h"
#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "app/ResponseListing.h"
#include "app/TStrings.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/listener/DicomConnection.h"
#include "dicom/listener/DicomViewer.h"
#include "dicom/net/DicomQuery.h"

namespace lumo::app {

enum class ControlKind {
    Form,
    Panel,
    PageControl,
    TabSheet,
    Label,
    Edit,
    ComboBox,
    CheckBox,
    Button,
    ListBox,
    Memo,
    OpenDialog,
    Viewer,
};

// The small coloured marks beside a field: a red "W" for the fields the
// worklist query uses, a blue "CF" for those the C-FIND queries use.
enum ControlMarks : unsigned { MarkNone = 0u, MarkW = 1u, MarkCF = 2u };

// One control of the console without pixels: its design name, kind, place
// (the design name of its container) and the texts a front end draws. Owned
// by the form; used on the form's thread only. Subclasses add the state of
// their kind; a front end tells them apart by Kind.
class TControl {
  public:
    TControl(std::string name, ControlKind kind, std::string parent);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;
    const ControlKind Kind;
    const std::string Parent;  // empty for the form itself

    std::string Caption;       // form, tab, label, button, check box
    std::string LabelCaption;  // the field label drawn beside an input ("IP:"); empty when none
    std::string Hint;          // an edit with a hint is drawn on the light 3-D colour
    unsigned Marks = MarkNone;
    int TabOrder = -1;  // -1: no fixed place in the tab order
    bool Visible = true;
    bool Enabled = true;  // false while a query runs, for every input but the stop
    int Width = 0;        // design size where the layout fixes it; 0 otherwise
    int Height = 0;
};

class TLabel : public TControl {
  public:
    TLabel(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::Label, std::move(parent)) {}
};

class TEdit : public TControl {
  public:
    TEdit(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::Edit, std::move(parent)) {}
    std::string Text;
};

// An editable drop-down list: Text is what the box shows, listed or typed.
class TComboBox : public TControl {
  public:
    TComboBox(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::ComboBox, std::move(parent)) {}
    std::string Text;
    std::vector<std::string> Items;
};

class TCheckBox : public TControl {
  public:
    TCheckBox(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::CheckBox, std::move(parent)) {}
    bool Checked = false;
};

// A push button. Click() runs its handler with the button as sender, as a
// press by the operator does (handlers call it too: the batch presses the
// study button). A button without a handler does nothing.
class TButton : public TControl {
  public:
    TButton(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::Button, std::move(parent)) {}
    std::function<void(TControl& sender)> OnClick;
    void Click();
};

class TListBox : public TControl {
  public:
    TListBox(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::ListBox, std::move(parent)) {}
    TStrings Items;
    int ItemIndex = -1;  // the selected line, -1 for none
};

class TMemo : public TControl {
  public:
    TMemo(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::Memo, std::move(parent)) {}
    TStrings Lines;
};

class TOpenDialog : public TControl {
  public:
    TOpenDialog(std::string name, std::string parent)
        : TControl(std::move(name), ControlKind::OpenDialog, std::move(parent)) {}
    std::string DefaultExt;
    std::string FileName;  // the last chosen file
};

// The hidden listener of listen mode: owns the toolkit's viewer, whose
// events run on the host's dispatcher thread.
class TDicomViewer : public TControl {
  public:
    TDicomViewer(std::string name, std::string parent, dicom::Dispatcher& dispatcher)
        : TControl(std::move(name), ControlKind::Viewer, std::move(parent)), Viewer(dispatcher) {}
    dicom::DicomViewer Viewer;
};

// The console's main window without pixels: every control with its design
// name and built-in texts, and the handlers that are the console's behaviour
// (start-up, the query buttons, the listing of responses, the incoming
// queries of listen mode). Owns its controls, the listener and the last
// recorded incoming connection. Used on one thread, the form's: the host's
// dispatcher brings the listener's events there.
class TFormTestWL {
  public:
    explicit TFormTestWL(FormHost& host);
    ~TFormTestWL();
    TFormTestWL(const TFormTestWL&) = delete;
    TFormTestWL& operator=(const TFormTestWL&) = delete;

    // The window itself: caption "Query Worklist / CFIND", 905 x 628.
    TControl Form{"FormTestWL", ControlKind::Form, ""};
    std::string ActiveControl = "EditAccession";  // the input focus at start

    // Input block (top, 329 pixels high).
    TControl Panel2{"Panel2", ControlKind::Panel, "FormTestWL"};
    TEdit EditCallingAETitle{"EditCallingAETitle", "Panel2"};
    TEdit EditIP{"EditIP", "Panel2"};
    TEdit EditPort{"EditPort", "Panel2"};
    TEdit EditAETitle{"EditAETitle", "Panel2"};
    TEdit EditAccession{"EditAccession", "Panel2"};
    TEdit EditDossier{"EditDossier", "Panel2"};
    TEdit EditNomPatient{"EditNomPatient", "Panel2"};
    TEdit EditNomMedRef{"EditNomMedRef", "Panel2"};
    TEdit EditDate{"EditDate", "Panel2"};
    TEdit EditNaissance{"EditNaissance", "Panel2"};
    TEdit EditStudyUID{"EditStudyUID", "Panel2"};
    TComboBox cboModalite{"cboModalite", "Panel2"};
    TCheckBox cbSaveResults{"cbSaveResults", "Panel2"};
    TEdit EditSeriesUID{"EditSeriesUID", "Panel2"};

    // Request and response times; the label beside each is its LabelCaption.
    TLabel lblDHDemande{"lblDHDemande", "Panel2"};
    TLabel lblDHReponse{"lblDHReponse", "Panel2"};

    TButton ButtonWL{"ButtonWL", "Panel2"};
    TButton ButtonCFindStudyStudy{"ButtonCFindStudyStudy", "Panel2"};
    TButton ButtonCFindPatient{"ButtonCFindPatient", "Panel2"};
    TButton ButtonCFindStudySeries{"ButtonCFindStudySeries", "Panel2"};
    TButton ButtonCFindStudyImage{"ButtonCFindStudyImage", "Panel2"};
    TButton Button1{"Button1", "Panel2"};
    TButton Button2{"Button2", "Panel2"};
    TButton Button3{"Button3", "Panel2"};
    TButton bTestDate{"bTestDate", "Panel2"};
    TButton Button5{"Button5", "Panel2"};
    TButton Button6{"Button6", "Panel2"};  // hidden
    // Stops what runs (a query, the worklist check, the batch); the one
    // control enabled meanwhile, and disabled otherwise.
    TButton ButtonArreter{"ButtonArreter", "Panel2"};

    // Batch panel at the right of the input block (312 pixels wide).
    TControl Panel3{"Panel3", ControlKind::Panel, "Panel2"};
    TControl PageControl1{"PageControl1", ControlKind::PageControl, "Panel3"};
    TControl TabSheet1{"TabSheet1", ControlKind::TabSheet, "PageControl1"};  // "Type 1"
    TLabel Label41{"Label41", "TabSheet1"};
    TButton ButtonCFINDType1{"ButtonCFINDType1", "TabSheet1"};
    TLabel Label46{"Label46", "TabSheet1"};
    TLabel Label44{"Label44", "TabSheet1"};
    TEdit EditNomData1{"EditNomData1", "TabSheet1"};
    TLabel Label45{"Label45", "TabSheet1"};
    TEdit EditNomData2{"EditNomData2", "TabSheet1"};
    TEdit EditSQL{"EditSQL", "TabSheet1"};
    TListBox ListBoxOrig{"ListBoxOrig", "TabSheet1"};
    TMemo MemoDest{"MemoDest", "TabSheet1"};  // hidden
    // "Enregistrement i / N" while the batch runs; hidden otherwise.
    TLabel LabelBatchProgress{"LabelBatchProgress", "TabSheet1"};

    // The tab "Diagnostic": echo and probe of the node, the connection's
    // timeouts and maximum PDU, and the report of the last exchange.
    TControl TabSheet2{"TabSheet2", ControlKind::TabSheet, "PageControl1"};
    TButton ButtonEcho{"ButtonEcho", "TabSheet2"};
    TButton ButtonSonder{"ButtonSonder", "TabSheet2"};
    TLabel lblConnectTimeout{"lblConnectTimeout", "TabSheet2"};
    TEdit EditConnectTimeout{"EditConnectTimeout", "TabSheet2"};
    TLabel lblAssocTimeout{"lblAssocTimeout", "TabSheet2"};
    TEdit EditAssocTimeout{"EditAssocTimeout", "TabSheet2"};
    TLabel lblResponseTimeout{"lblResponseTimeout", "TabSheet2"};
    TEdit EditResponseTimeout{"EditResponseTimeout", "TabSheet2"};
    TLabel lblMaxPDU{"lblMaxPDU", "TabSheet2"};
    TEdit EditMaxPDU{"EditMaxPDU", "TabSheet2"};
    TLabel lblMaxResults{"lblMaxResults", "TabSheet2"};
    TEdit EditMaxResults{"EditMaxResults", "TabSheet2"};
    TMemo MemoDiagnostic{"MemoDiagnostic", "TabSheet2"};
    // The responses of the last query written as DICOM JSON or CSV, and the
    // comparison of the node's answers with a second node's.
    TButton ButtonExporter{"ButtonExporter", "TabSheet2"};
    TLabel lblSecondNode{"lblSecondNode", "TabSheet2"};
    TEdit EditIP2{"EditIP2", "TabSheet2"};
    TEdit EditPort2{"EditPort2", "TabSheet2"};
    TEdit EditAETitle2{"EditAETitle2", "TabSheet2"};
    TComboBox cboCompareKind{"cboCompareKind", "TabSheet2"};
    TButton ButtonComparer{"ButtonComparer", "TabSheet2"};
    // DICOM over TLS for every exchange with the node (the queries, the
    // check, the batch, echo, probe, comparison and the relay's upstream):
    // on or off, this side's certificate and key, the trusted certificates,
    // the verification and the profile; stored with the other settings.
    TCheckBox cbTLS{"cbTLS", "TabSheet2"};
    TComboBox cboTLSVerify{"cboTLSVerify", "TabSheet2"};
    TComboBox cboTLSProfile{"cboTLSProfile", "TabSheet2"};
    TEdit EditTLSCA{"EditTLSCA", "TabSheet2"};
    TEdit EditTLSCert{"EditTLSCert", "TabSheet2"};
    TEdit EditTLSKey{"EditTLSKey", "TabSheet2"};

    // Result list, filling the rest of the window.
    TControl Panel1{"Panel1", ControlKind::Panel, "FormTestWL"};
    TListBox ListBoxResult{"ListBoxResult", "Panel1"};

    // Not drawn.
    TOpenDialog OpenDialogCFIND{"OpenDialogCFIND", "FormTestWL"};
    TDicomViewer DicomViewer1;

    // Every control above, in declaration order, and a lookup by design name
    // (nullptr when there is none).
    const std::vector<TControl*>& Controls() const { return controls_; }
    TControl* FindControl(std::string_view name) const;

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
    void ButtonExporterClick(TControl& sender);
    void ButtonComparerClick(TControl& sender);
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
    // queries' side; set before FormCreate, which starts the listener.
    dicom::DicomTls ListenTls;

    // Whether listen mode started (the listener opened its port).
    bool Listening() const { return listening_; }
    // Whether an incoming request waits for the console's responses.
    bool HasPendingConnection() const { return PendingConnection.has_value(); }

    // Asks what runs to stop (the stop button, the window's close, a signal
    // to the command line): a query is cancelled at once, the batch stops
    // after the record under way and writes what it built. The one member
    // any thread may call; the batch clears it when it starts, and the end
    // of whatever ran clears it too.
    void RequestStop() noexcept;
    bool StopRequested() const noexcept { return stopRequested_; }
    // Whether a query, the worklist check or the batch runs.
    bool Running() const { return running_ > 0; }

    FormHost& Host() const { return host_; }

    // The request the fields make; a port that is not a whole number raises
    // EConvertError.
    QueryRequest QueryRequestFromFields(QueryLevel level) const;

    // How the last query went: a query button's, the relay's or the
    // worklist check's. Empty until a query runs.
    const QueryOutcome& LastQuery() const { return lastQuery_; }
    // Whether the last echo answered Success, or the last probe reached the
    // node and had an association accepted.
    bool DiagnosticSucceeded() const { return diagnosticSucceeded_; }

    // Whether a query's outcome holds its responses after the listing (the
    // export reads them again). The command line without --json or --csv
    // lets them go: a million listed responses need not be held twice.
    bool KeepResponses = true;

    // Whether FormDestroy writes the connection settings back. The command
    // line reads them at start but leaves the store as it found it.
    bool WriteBackSettings = true;

  private:
    // A query button: stamps the request time, lets the window repaint, runs
    // the query and lets the front end show it. `relayTo`: the incoming
    // request that waits for the responses, when listen mode relays one.
    void PressQueryButton(QueryLevel level, dicom::DicomConnection* relayTo = nullptr);
    void LaunchQuery(QueryLevel level, dicom::DicomConnection* relayTo);
    // The response time and the listing of the last query; false when the
    // listing stopped on a failure.
    bool ShowOutcome(ResponseLister* listed);
    void ListAndSave(const dicom::DicomDataSets& responses, QueryLevel level);
    void CopyIncomingRequestToFields(const dicom::DicomConnection& connection);
    void ReadLimitSettings();
    // The Diagnostic tab (DiagnosticTab.cpp): its texts and handlers, the
    // connection settings between the store, the fields and the requests,
    // and the report of the last exchange in MemoDiagnostic and the log.
    void SetUpDiagnosticTab();
    void ShowConnectionFields();
    ConnectionValues ConnectionInForce() const;
    void ConnectionFromFields(ConnectionValues& values) const;
    void ReadConnectionSettings();
    void WriteConnectionSettings();
    void ReadTlsSettings();
    void WriteTlsSettings();
    // The TLS fields as a request takes them; a verification or profile
    // that is not one of the list raises EConvertError.
    dicom::DicomTls TlsFromFields() const;
    void ShowExchange(const std::vector<dicom::AssociationReport>& reports, bool log);
    void SetFieldLabels();
    void SetCaptions();
    void BindHandlers();
    void AddControls();
    // The worklist check (Button3Click): its query, the examination of the
    // first response, and the progress line written to the log and the list.
    std::optional<dicom::DicomDataSets> RequestWorklist(const std::string& modality);
    void checkResults(const std::optional<dicom::DicomDataSets>& responses);
    void LogAndList(const std::string& text);

    // While one lives, the inputs are disabled and the stop button is the
    // one control enabled; the outermost restores them and forgets a stop
    // request. FormRunning.cpp; the form's thread.
    class RunningScope {
      public:
        explicit RunningScope(TFormTestWL& form, bool batch = false);
        ~RunningScope();
        RunningScope(const RunningScope&) = delete;
        RunningScope& operator=(const RunningScope&) = delete;

      private:
        TFormTestWL& form_;
        const bool batch_;
    };
    void SetInputsEnabled(bool enabled);
    // The stop for the query about to run: a stop asked for since the run
    // began holds; the batch's records have one nothing requests (the batch
    // stops between two).
    std::stop_source QueryStopSource();
    // Requests a stop: what a stop callback runs.
    struct RequestStopOf {
        std::stop_source source;
        void operator()() noexcept { source.request_stop(); }
    };
    // Runs the query through the front end, which keeps the window alive
    // meanwhile and calls `progress` (if any) with the count of responses
    // so far every few tenths of a second, on the form's thread.
    QueryOutcome RunQueryBusy(const QueryRequest& request, const dicom::DicomDataSet& identifier,
                              const dicom::DicomQuery::ResponseHandler& onResponse,
                              std::stop_token stop, const std::function<void(int)>& progress);
    // The line after the blocks of a query this side cancelled; empty when
    // it was not.
    std::string CancelLine() const;

    // Clears the stop request when it starts.
    friend void RunBatchType1(TFormTestWL& form);

    FormHost& host_;
    std::vector<TControl*> controls_;
    bool listening_ = false;
    std::optional<dicom::DicomConnection> PendingConnection;
    QueryOutcome lastQuery_;
    // What the connection fields showed when last set from the values in
    // force: a field the operator changed since overrides its value.
    std::vector<std::string> shownConnection_;
    bool diagnosticSucceeded_ = false;
    std::atomic<bool> stopRequested_{false};
    int running_ = 0;
    bool batchRunning_ = false;
    std::mutex stopMutex_;
    std::stop_source queryStop_;  // guarded by stopMutex_
};

}  // namespace lumo::app
