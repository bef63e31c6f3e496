#include "app/TFormTestWL.h"

#include <charconv>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/BatchType1.h"
#include "app/LinesFile.h"
#include "app/QueryIdentifier.h"
#include "app/Relay.h"
#include "app/StrToInt.h"
#include "app/VisibleText.h"
#include "app/pacsFunctionsProcedures.h"
#include "dicom/data/DicomAttribute.h"
#include "dicom/data/DicomAttributes.h"
#include "dicom/data/DicomDataSet.h"
#include "dicom/data/DicomDataSets.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DimseStatus.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/DateTime.h"
#include "support/Exception.h"
#include "support/FileInfo.h"
#include "support/Global_Registry.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;
using dicom::DicomAttributes;
using dicom::DicomDataSet;
using dicom::DicomDataSets;
using dicom::Variant;

const char* const kHintCFind = "Paramètre CFIND => Norvanex 2.5.3.7 minimum";
const char* const kResultFileName = "ResultQuery.TXT";
const char* const kQueryFailed = "Erreur";

std::string TimeStamp(TDateTime time) { return FormatDateTime("hh:nn:ss.zzz", time); }
std::string Today() { return FormatDateTime("yyyymmdd", Now()); }

// The window's connection settings between runs, under the form's name.
const char* const kSettingsSection = "FormTestWL";

}  // namespace

TControl::TControl(std::string name, ControlKind kind, std::string parent)
    : Name(std::move(name)), Kind(kind), Parent(std::move(parent)) {}

void TButton::Click() {
    if (OnClick) OnClick(*this);
}

TFormTestWL::TFormTestWL(FormHost& host)
    : DicomViewer1("DicomViewer1", "FormTestWL", host.FormDispatcher()), host_(host) {
    Form.Caption = "Query Worklist / CFIND";
    Form.Width = 905;
    Form.Height = 628;
    Panel2.Height = 329;
    Panel3.Width = 312;
    TabSheet1.Caption = "Type 1";
    SetFieldLabels();
    SetCaptions();
    BindHandlers();
    SetUpDiagnosticTab();
    AddControls();
}

void TFormTestWL::SetFieldLabels() {
    struct Field {
        TControl& control;
        const char* label;
        bool hinted;
        unsigned marks;
        int tabOrder;
    };
    const Field fields[] = {
        {EditCallingAETitle, "AETitleCalling:", false, MarkW | MarkCF, 0},
        {EditIP, "IP:", false, MarkW | MarkCF, 1},
        {EditPort, "Port:", false, MarkW | MarkCF, 2},
        {EditAETitle, "AETitle:", false, MarkW | MarkCF, 3},
        {EditAccession, "Accession:", false, MarkW | MarkCF, 4},
        {EditDossier, "Dossier:", true, MarkW | MarkCF, 5},
        {EditNomPatient, "Nom Patient:", true, MarkCF, 6},
        {EditNomMedRef, "Nom MedRef:", true, MarkCF, 7},
        {EditDate, "Date:", true, MarkW | MarkCF, 9},
        {EditNaissance, "Naissance", true, MarkCF, 10},
        {EditStudyUID, "StudyUID", true, MarkCF, 11},
        {cboModalite, "Modalité:", false, MarkW, 12},
        {cbSaveResults, "", false, MarkW | MarkCF, 16},
        {EditSeriesUID, "SeriesUID", true, MarkCF, 26},
    };
    for (const Field& field : fields) {
        field.control.LabelCaption = field.label;
        if (field.hinted) field.control.Hint = kHintCFind;
        field.control.Marks = field.marks;
        field.control.TabOrder = field.tabOrder;
    }
    lblDHDemande.LabelCaption = "Demandée à :";
    lblDHReponse.LabelCaption = "Réponse à :";
}

void TFormTestWL::SetCaptions() {
    EditCallingAETitle.Text = "Lumo4410";
    EditIP.Text = "127.0.0.1";
    EditPort.Text = "3100";
    EditAETitle.Text = "NORVANEX";
    cboModalite.Items = {"CR", "US", "CT", "RF", "OT", "SC", "MR", "XA", "MG"};
    cbSaveResults.Caption = "Save Results";

    ButtonWL.Caption = "Worklist";
    ButtonCFindStudyStudy.Caption = "C-Find Study/Study";
    ButtonCFindPatient.Caption = "C-Find Patient/Patient";
    ButtonCFindStudySeries.Caption = "C-Find Study/Series";
    ButtonCFindStudyImage.Caption = "C-Find Study/Images";
    Button1.Caption = "C-Find Patient/Series";
    Button2.Caption = "C-Find Patient/Images";
    Button3.Caption = "Worklist TAVRIX";
    bTestDate.Caption = "Test Date";
    Button5.Caption = "Export Result";
    Button6.Caption = "Load Result";
    Button6.Visible = false;
    ButtonArreter.Caption = "Arrêter";
    ButtonArreter.Hint = "Arrête la requête en cours (C-CANCEL) ou le traitement par lot";
    ButtonArreter.Enabled = false;

    Label41.Caption = "NOM;PRENOM;NAISSANCE;ACCESSION*;ID_ZUNDA";
    Label41.Hint = "Exemple record fichier LUMO4410_1.txt";
    ButtonCFINDType1.Caption = "CFind (ACCESSION+NOM)";
    Label46.Caption =
        "Fait CFIND avec ACCESSION + NOM à partir des valeurs du fichier sélectionné et recherche "
        "dans le résultat les valeur du %1 et %2 et remplace dans le SQL.  Mets automatiquement "
        "le \"= [ID_ZUNDA];\" à la fin du SQL.";
    Label44.Caption = "%1";
    Label45.Caption = "%2";
    EditNomData1.Text = "StudyUID:";
    EditNomData2.Text = "Visite:";
    EditSQL.Text = "Update examen e set e.SIUID = '%1', e.idexterne = '%2' where e.id_examen";
    EditSQL.Hint = "String à générer avec résultat";
    MemoDest.Lines.Add("MemoDest");
    MemoDest.Visible = false;
    LabelBatchProgress.Visible = false;
    OpenDialogCFIND.DefaultExt = "*.*";
    OpenDialogCFIND.Visible = false;
    DicomViewer1.Visible = false;
}

void TFormTestWL::BindHandlers() {
    ButtonWL.OnClick = [this](TControl& sender) { ButtonWLClick(sender); };
    ButtonArreter.OnClick = [this](TControl&) { RequestStop(); };
    ButtonCFindStudyStudy.OnClick = [this](TControl& sender) { ButtonWLClick(sender); };
    ButtonCFindPatient.OnClick = [this](TControl& sender) { ButtonCFindPatientClick(sender); };
    ButtonCFindStudySeries.OnClick = [this](TControl& sender) {
        ButtonCFindStudySeriesClick(sender);
    };
    ButtonCFindStudyImage.OnClick = [this](TControl& sender) {
        ButtonCFindStudyImageClick(sender);
    };
    Button1.OnClick = [this](TControl& sender) { Button1Click(sender); };
    Button2.OnClick = [this](TControl& sender) { Button2Click(sender); };
    ButtonCFINDType1.OnClick = [this](TControl& sender) { ButtonCFINDType1Click(sender); };
    Button5.OnClick = [this](TControl& sender) { Button5Click(sender); };
    Button6.OnClick = [this](TControl& sender) { Button6Click(sender); };
    Button3.OnClick = [this](TControl& sender) { Button3Click(sender); };
    bTestDate.OnClick = [this](TControl& sender) { bTestDateClick(sender); };

    DicomViewer1.Viewer.OnAssociationRequest2 =
        [this](dicom::DicomViewer& sender, dicom::DicomConnection& connection, bool& isOK) {
            DicomViewer1AssociationRequest2(sender, connection, isOK);
        };
    DicomViewer1.Viewer.OnQueryRequest = [this](dicom::DicomViewer& sender,
                                                dicom::DicomConnection& connection) {
        RunHandler([&] { DicomViewer1QueryRequest(sender, connection); });
    };
}

TFormTestWL::~TFormTestWL() {
    // No event may reach a form that is going away.
    DicomViewer1.Viewer.ViewerStop();
}

void TFormTestWL::AddControls() {
    controls_ = {&Form,
                 &Panel2,
                 &EditCallingAETitle,
                 &EditIP,
                 &EditPort,
                 &EditAETitle,
                 &EditAccession,
                 &EditDossier,
                 &EditNomPatient,
                 &EditNomMedRef,
                 &EditDate,
                 &EditNaissance,
                 &EditStudyUID,
                 &cboModalite,
                 &cbSaveResults,
                 &EditSeriesUID,
                 &lblDHDemande,
                 &lblDHReponse,
                 &ButtonWL,
                 &ButtonCFindStudyStudy,
                 &ButtonCFindPatient,
                 &ButtonCFindStudySeries,
                 &ButtonCFindStudyImage,
                 &Button1,
                 &Button2,
                 &Button3,
                 &bTestDate,
                 &Button5,
                 &Button6,
                 &ButtonArreter,
                 &Panel3,
                 &PageControl1,
                 &TabSheet1,
                 &Label41,
                 &ButtonCFINDType1,
                 &Label46,
                 &Label44,
                 &EditNomData1,
                 &Label45,
                 &EditNomData2,
                 &EditSQL,
                 &ListBoxOrig,
                 &MemoDest,
                 &LabelBatchProgress,
                 &TabSheet2,
                 &ButtonEcho,
                 &ButtonSonder,
                 &lblConnectTimeout,
                 &EditConnectTimeout,
                 &lblAssocTimeout,
                 &EditAssocTimeout,
                 &lblResponseTimeout,
                 &EditResponseTimeout,
                 &lblMaxPDU,
                 &EditMaxPDU,
                 &lblMaxResults,
                 &EditMaxResults,
                 &MemoDiagnostic,
                 &ButtonExporter,
                 &lblSecondNode,
                 &EditIP2,
                 &EditPort2,
                 &EditAETitle2,
                 &cboCompareKind,
                 &ButtonComparer,
                 &cbTLS,
                 &cboTLSVerify,
                 &cboTLSProfile,
                 &EditTLSCA,
                 &EditTLSCert,
                 &EditTLSKey,
                 &Panel1,
                 &ListBoxResult,
                 &OpenDialogCFIND,
                 &DicomViewer1};
}

TControl* TFormTestWL::FindControl(std::string_view name) const {
    for (TControl* control : controls_) {
        if (control->Name == name) return control;
    }
    return nullptr;
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
    ButtonCFINDType1.Caption = "CFind (ACCESSION+NOM)";
    EditDate.Text = Today();
    EditIP.Text = ReadSetting(kSettingsSection, "IP");
    EditPort.Text = ReadSetting(kSettingsSection, "Port");
    EditAETitle.Text = ReadSetting(kSettingsSection, "AETitle");
    EditCallingAETitle.Text = ReadSetting(kSettingsSection, "CallingAETitle");
    cboModalite.Text = ReadSetting(kSettingsSection, "Modalite");
    // Without an address the other three connection fields mean nothing:
    // all four start again from their defaults together.
    if (EditIP.Text.empty()) {
        EditIP.Text = "127.0.0.1";
        EditPort.Text = "3100";
        EditAETitle.Text = "NORVANEX";
        EditCallingAETitle.Text = "Lumo4410";
    }

    ReadLimitSettings();
    ReadConnectionSettings();
    ReadTlsSettings();
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

// How large what a peer sends may grow before it is refused: a response of
// a queried node, an identifier of a caller in listen mode. Stored with the
// connection settings, in bytes; a value that is no whole number of at
// least a kilobyte keeps the default, and the log says so.
void TFormTestWL::ReadLimitSettings() {
    const auto bytes = [](const char* name, std::size_t fallback) {
        const std::string text = ReadSetting(kSettingsSection, name);
        if (text.empty()) return fallback;
        std::size_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc() && end == text.data() + text.size() && value >= 1024) return value;
        AppLogger().Log(std::string("Paramètre ") + name + " invalide : '" + text +
                            "' (valeur par défaut " + std::to_string(fallback) + " gardée)",
                        LogLevel::Error, 0);
        return fallback;
    };
    QueryLimits.maxResponseBytes = bytes("MaxResponseBytes", QueryLimits.maxResponseBytes);
    dicom::ViewerLimits viewer;
    viewer.maxIdentifierBytes = bytes("MaxIdentifierBytes", viewer.maxIdentifierBytes);
    DicomViewer1.Viewer.SetLimits(viewer);
}

void TFormTestWL::FormDestroy() {
    if (!WriteBackSettings) return;
    WriteSetting(kSettingsSection, "IP", EditIP.Text);
    WriteSetting(kSettingsSection, "Port", EditPort.Text);
    WriteSetting(kSettingsSection, "AETitle", EditAETitle.Text);
    WriteSetting(kSettingsSection, "CallingAETitle", EditCallingAETitle.Text);
    WriteSetting(kSettingsSection, "Modalite", cboModalite.Text);
    WriteConnectionSettings();
    WriteTlsSettings();
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
// program's: it lands where the operator started the console.
void TFormTestWL::Button5Click(TControl&) { SaveLinesToFile(kResultFileName, ListBoxResult.Items); }

void TFormTestWL::Button6Click(TControl&) {
    // Read in full before the list is touched: a file that cannot be read
    // leaves the list as it was.
    ListBoxResult.Items.Assign(LoadLinesFromFile(kResultFileName).lines);
}

void TFormTestWL::LogAndList(const std::string& text) {
    AppLogger().Log(text, LogLevel::Trace, 0);
    ListBoxResult.Items.Add(text);
}

void TFormTestWL::Button3Click(TControl&) {
    const RunningScope running(*this);
    const std::optional<DicomDataSets> responses = RequestWorklist(cboModalite.Text);
    LogAndList("checkResults");
    checkResults(responses);
}

std::optional<DicomDataSets> TFormTestWL::RequestWorklist(const std::string& modality) {
    QueryRequest request = QueryRequestFromFields(QueryLevel::Worklist);
    request.keys.modality = modality;
    request.keepResponses = true;  // the check reads the first one
    const DicomDataSet identifier = BuildWorklistCheckIdentifier(request);

    LogAndList("Worklist demandé à " + request.node.calledAETitle);
    lastQuery_ = RunQueryBusy(request, identifier, nullptr, QueryStopSource().get_token(), nullptr);
    if (const std::string cancel = CancelLine(); !cancel.empty()) LogAndList(cancel);
    // The check writes its own progress to the log, the report stays on the tab.
    ShowExchange({lastQuery_.report}, false);
    if (const std::optional<QueryFailure>& failure = lastQuery_.failure) {
        LogAndList("Exception(" + failure->ClassName() + "):" + VisibleText(failure->message));
        return std::nullopt;
    }
    LogAndList("-> Réponse arrivée");
    if (lastQuery_.responses.DataSetsCount() == 0) LogAndList("Aucun résultat pour Query");
    return lastQuery_.responses;
}

void TFormTestWL::checkResults(const std::optional<DicomDataSets>& responses) {
    const std::string accession = EditAccession.Text;
    // A date or time is reported when its attribute is absent, or present
    // without a value; `absentLevel` is how much the absence matters.
    const auto check = [&accession](const DicomAttributes& attributes, std::uint16_t group,
                                    std::uint16_t element, const char* nullLabel,
                                    const char* absentLabel, std::uint8_t absentLevel) {
        const DicomAttribute attribute = attributes.AttributesFind(group, element);
        if (!attribute.AttributeIsPresent()) {
            AppLogger().Log(absentLabel + accession, absentLevel, 0);
        } else if (attribute.AttributeValue().IsNull()) {
            AppLogger().Log(nullLabel + accession, LogLevel::Finding, 0);
        }
    };

    // No answer, no matching entry, or an entry without a scheduled step
    // item: nothing to examine, and the run still ends as usual.
    if (responses) {
        LogAndList("Res");
        if (responses->DataSetsCount() > 0) {
            const DicomDataSet first = responses->DataSetsItem(1);
            LogAndList("studyuid:" + VisibleText(first.DataSetStudyUID()));
            const DicomAttributes attributes = first.DataSetAttributes();
            const DicomAttribute sequence = attributes.AttributesFind(0x0040, 0x0100);
            if (sequence.AttributeIsPresent()) {
                const Variant steps = sequence.AttributeValue();
                if (!steps.IsNull() && steps.AsCollection().DataSetsCount() > 0) {
                    const DicomAttributes step =
                        steps.AsCollection().DataSetsItem(1).DataSetAttributes();
                    pacsRetDicomAttr(step, 0x0008, 0x0060);
                    // A missing start date is the one finding logged as an error.
                    check(step, 0x0040, 0x0002, "Reponse avec Study StartDate null:",
                          "Reponse sans Study StartDate:", LogLevel::Error);
                    check(step, 0x0040, 0x0003, "Reponse avec Study StartTime null:",
                          "Reponse sans Study StartTime:", LogLevel::Finding);
                }
            } else {
                if (pacsRetFirstDicomAttr(attributes, 0x0008, 0x0061).empty()) {
                    pacsRetFirstDicomAttr(attributes, 0x0008, 0x0060);
                }
                check(attributes, 0x0008, 0x0020,
                      "Reponse avec StudyDate null:", "Reponse sans StudyDate:", LogLevel::Finding);
                check(attributes, 0x0008, 0x0030,
                      "Reponse avec StudyTime null:", "Reponse sans StudyTime:", LogLevel::Finding);
            }
        }
    }
    LogAndList("Fin check Res");
}

void TFormTestWL::bTestDateClick(TControl&) {
    DicomDataSet dataSet;
    DicomAttributes attributes = dataSet.DataSetAttributes();
    attributes.AttributesAdd(0x0040, 0x0002, Variant(EditDate.Text));
    const auto date = [&attributes] { return attributes.AttributesFind(0x0040, 0x0002); };
    TStrings& lines = ListBoxResult.Items;
    lines.Add("VarToStr:" + dicom::VarToStr(date().AttributeValue()));
    lines.Add("VariantValue(True):" + dicom::VarToStr(date().AttributeTypedValue(true)));
    lines.Add("VariantValue(False):" + dicom::VarToStr(date().AttributeTypedValue(false)));
    lines.Add("UnicodeValue:" + dicom::VarToStr(date().AttributeWideValue()));
    // An empty format: the short date, and the long time unless at midnight.
    lines.Add("DateTimeFrom:" +
              FormatDateTime("", date().AttributeRangeStart(EncodeDate(1980, 1, 1))));
    lines.Add("DateTimeTo:" +
              FormatDateTime("", date().AttributeRangeEnd(EncodeDate(2199, 12, 31))));
}

void TFormTestWL::DicomViewer1AssociationRequest2(dicom::DicomViewer&, dicom::DicomConnection&,
                                                  bool& isOK) {
    isOK = true;
}

void TFormTestWL::DicomViewer1QueryRequest(dicom::DicomViewer&,
                                           dicom::DicomConnection& connection) {
    const auto number = [&connection] { return std::to_string(connection.ConnectionNumber()); };
    AppLogger().Log("Query Request :" + number() + " Début", LogLevel::Trace, 0);
    try {
        CopyIncomingRequestToFields(connection);
        PendingConnection = connection;
        PressQueryButton(QueryLevel::Worklist, &connection);
        AppLogger().Log("Query Request :" + number() + " Fin", LogLevel::Trace, 0);
    } catch (const Exception& e) {
        AppLogger().Log(
            "Exception dans Query Request :" + number() + " (" + e.ClassName() + "):" + e.Message(),
            LogLevel::Error, 0);
    }
    // The request is over once this handler returns: later queries must not
    // write to it. A caller the forwarded query could not answer (the node
    // failed, or the request was unusable) is told so with a failure status
    // rather than left waiting.
    PendingConnection.reset();
    if (connection.ConnectionIsWaiting()) {
        try {
            connection.ConnectionSendStatus(dicom::DimseStatus::UnableToProcess);
        } catch (const Exception&) {
            // The caller has gone; the listener ends the association.
        }
    }
}

// The caller's AE titles and keys become the fields of the relayed query,
// where the operator sees them.
void TFormTestWL::CopyIncomingRequestToFields(const dicom::DicomConnection& connection) {
    AppLogger().Log("Query Request Connection.Root : " + connection.ConnectionRoot(),
                    LogLevel::Trace, 0);
    const DicomDataSet request = connection.ConnectionRequest();
    const DicomAttributes keys = request.DataSetAttributes();
    AppLogger().Log("Query Request Connection.Level : " +
                        dicom::VarToStr(keys.AttributesFind(0x0008, 0x0052).AttributeValue()),
                    LogLevel::Trace, 0);
    EditCallingAETitle.Text = connection.ConnectionCallingAETitle();
    EditAETitle.Text = connection.ConnectionCalledAETitle();
    const DicomAttribute date = keys.AttributesFind(0x0040, 0x0002);
    // The date goes on as the caller wrote it (a single date or a range):
    // its locale form would not be a date the node can match.
    EditDate.Text = date.AttributeValue().IsNull() ? Today() : date.AttributeWideValue().AsText();
    EditAccession.Text = request.DataSetAccessionNumber();
    EditDossier.Text = request.DataSetPatientID();
}

QueryRequest TFormTestWL::QueryRequestFromFields(QueryLevel level) const {
    QueryRequest request;
    request.level = level;
    request.node.address = EditIP.Text;
    request.node.port = StrToInt(EditPort.Text);
    request.node.calledAETitle = EditAETitle.Text;
    request.node.callingAETitle = EditCallingAETitle.Text;
    request.node.timeouts = QueryTimeouts;
    request.node.limits = QueryLimits;
    request.node.maxPdu = QueryMaxPdu;
    ConnectionValues values{request.node.timeouts, request.node.maxPdu,
                            request.node.limits.maxResults};
    ConnectionFromFields(values);
    request.node.timeouts = values.timeouts;
    request.node.maxPdu = values.maxPdu;
    request.node.limits.maxResults = values.maxResults;
    request.node.tls = TlsFromFields();
    QueryKeys& keys = request.keys;
    keys.accession = EditAccession.Text;
    keys.patientId = EditDossier.Text;
    keys.patientName = EditNomPatient.Text;
    keys.referring = EditNomMedRef.Text;
    keys.date = EditDate.Text;
    keys.birthDate = EditNaissance.Text;
    keys.studyUid = EditStudyUID.Text;
    keys.seriesUid = EditSeriesUID.Text;
    keys.modality = cboModalite.Text;
    // The save files are written from the responses once the query is over.
    request.keepResponses = KeepResponses || cbSaveResults.Checked;
    return request;
}

void TFormTestWL::PressQueryButton(QueryLevel level, dicom::DicomConnection* relayTo) {
    const RunningScope running(*this);
    const TDateTime requested = Now();
    lblDHDemande.Caption = TimeStamp(requested);
    lblDHReponse.Caption.clear();
    host_.ProcessMessages();
    LaunchQuery(level, relayTo);
    lastQuery_.requested = requested;
    host_.QueryListed();
}

void TFormTestWL::LaunchQuery(QueryLevel level, dicom::DicomConnection* relayTo) {
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
        const DicomDataSet identifier = BuildIdentifier(lastQuery_.request);
        // Without save files, each block is listed as its response arrives,
        // while the node prepares the next one. Save files are written after
        // a successful query only, each before its block, so that listing
        // waits for the end. A relayed response goes back to the caller
        // first, in the bytes it came in.
        std::optional<ResponseLister> lister;
        if (!cbSaveResults.Checked) lister.emplace(level);
        std::optional<RelayForwarder> forwarder;
        if (relayTo) forwarder.emplace(*relayTo);
        const auto onResponse = [&](const DicomDataSet& response) {
            if (forwarder) (*forwarder)(response);
            if (lister) (*lister)(response);
        };
        // The caller's cancel, or its going, stops the relayed query.
        std::stop_source stop = QueryStopSource();
        std::optional<std::stop_callback<RequestStopOf>> callerStop;
        if (relayTo) callerStop.emplace(relayTo->ConnectionStopToken(), RequestStopOf{stop});
        // The window shows the blocks listed so far, or a count of the
        // responses when they are listed at the end.
        const auto progress = [&](int received) {
            TStrings& shown = ListBoxResult.Items;
            if (lister) return lister->CopyNewLines(shown);
            shown.Clear();
            shown.Add(std::to_string(received) + " réponses reçues");
        };
        lastQuery_ = RunQueryBusy(lastQuery_.request, identifier, onResponse, stop.get_token(),
                                  relayTo ? std::function<void(int)>() : progress);
        // The relay writes its own lines to the log for every request it
        // serves; its reports stay on the tab.
        ShowExchange({lastQuery_.report}, relayTo == nullptr);
        const bool complete = ShowOutcome(lister ? &*lister : nullptr);
        if (relayTo)
            FinishRelay(*relayTo, complete, lastQuery_.report.cancel != dicom::CancelReason::None);
    } catch (const std::exception&) {
        // Any other failure ends the query quietly: what is listed stays.
    }
}

bool TFormTestWL::ShowOutcome(ResponseLister* listed) {
    TStrings& lines = ListBoxResult.Items;
    const std::optional<QueryFailure>& failure = lastQuery_.failure;
    lblDHReponse.Caption = failure ? kQueryFailed : TimeStamp(*lastQuery_.replied);
    lines.Clear();
    // What arrived before a failure is listed all the same, then the error.
    bool complete = true;
    const std::string cancel = CancelLine();
    if (lastQuery_.ResponseCount() == 0) {
        if (!failure && cancel.empty()) lines.Add(kNoResult);
    } else if (listed) {
        lines.Assign(std::move(listed->Lines()));
        complete = !listed->Failed();
    } else {
        ListAndSave(lastQuery_.responses, lastQuery_.request.level);
    }
    if (!cancel.empty()) lines.Add(cancel);
    if (!failure) return complete;
    lines.Add(failure->ClassName());
    lines.Add(VisibleText(failure->message));
    return false;
}

// Each response is saved as it arrived, then listed; a response that cannot
// be saved is said so in the list, and the listing goes on.
void TFormTestWL::ListAndSave(const DicomDataSets& responses, QueryLevel level) {
    TStrings& lines = ListBoxResult.Items;
    const int count = responses.DataSetsCount();
    for (int i = 1; i <= count; ++i) {
        const DicomDataSet response = responses.DataSetsItem(i);
        const std::string fileName = "Logs/Lumo4410_" + std::to_string(i) + ".dcm";
        try {
            std::error_code ignored;
            std::filesystem::create_directories("Logs", ignored);
            response.DataSetWriteFile(fileName);
        } catch (const std::exception& e) {
            lines.Add("Exception dans DataSetWriteFile(" + fileName + "):" + ExceptionClassName(e) +
                      ":" + e.what());
        }
        ListResponse(lines, response, level);
    }
}

}  // namespace lumo::app
