// The tab "Diagnostic" of the form: echo and probe of the node, the
// connection settings (three timeouts, the maximum PDU and DICOM over TLS)
// kept in the store and shown in fields, and the association report of the
// last exchange. Members of TFormTestWL, kept apart from the original console's.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AssociationText.h"
#include "app/ConnectionSettings.h"
#include "app/Diagnostics.h"
#include "app/NodeComparison.h"
#include "app/ResponseExport.h"
#include "app/StrToInt.h"
#include "app/TFormTestWL.h"
#include "app/VisibleText.h"
#include "logging/uApplicationLogger.h"
#include "support/Application.h"
#include "support/Exception.h"
#include "support/Global_Registry.h"

namespace lumo::app {

namespace {

const char* const kSettingsSection = "FormTestWL";

void ListLines(TStrings& list, const std::vector<std::string>& lines) {
    list.Clear();
    for (const std::string& line : lines) list.Add(line);
}

// The node of the fields; a field that holds no valid value is listed as a
// failed query's is, and nothing is sent.
std::optional<dicom::DicomPeer> PeerOfFields(const TFormTestWL& form, TStrings& list) {
    try {
        return form.QueryRequestFromFields(QueryLevel::Worklist).node.Peer();
    } catch (const Exception& e) {
        ListLines(list, {e.ClassName(), e.Message()});
        return std::nullopt;
    }
}

// The field of kConnectionSettings[index].
template <typename Form>
auto& ConnectionField(Form& form, std::size_t index) {
    const std::array fields{&form.EditConnectTimeout, &form.EditAssocTimeout,
                            &form.EditResponseTimeout, &form.EditMaxPDU, &form.EditMaxResults};
    return *fields[index];
}

}  // namespace

void TFormTestWL::SetUpDiagnosticTab() {
    TabSheet2.Caption = "Diagnostic";
    ButtonEcho.Caption = "Echo";
    ButtonSonder.Caption = "Sonder";
    lblConnectTimeout.Caption = "Connexion (s)";
    lblAssocTimeout.Caption = "Association (s)";
    lblResponseTimeout.Caption = "Réponse (s)";
    lblMaxPDU.Caption = "PDU max (octets)";
    lblMaxResults.Caption = "Max. réponses";
    EditMaxResults.Hint = "Réponses prises avant d'annuler la requête (0 : toutes)";
    ButtonExporter.Caption = "Exporter…";
    lblSecondNode.Caption = "Second nœud : IP, port, AE title";
    EditIP2.Hint = "Adresse du second nœud (vide : celle du premier)";
    EditPort2.Hint = "Port du second nœud (vide : celui du premier)";
    EditAETitle2.Hint = "AE title du second nœud (vide : celui du premier)";
    cboCompareKind.Hint = "Requête envoyée aux deux nœuds";
    cboCompareKind.Items = {"worklist", "patient", "study", "series", "image"};
    cboCompareKind.Text = "study";
    ButtonComparer.Caption = "Comparer";
    ButtonExporter.OnClick = [this](TControl& sender) { ButtonExporterClick(sender); };
    ButtonComparer.OnClick = [this](TControl& sender) { ButtonComparerClick(sender); };
    ButtonEcho.OnClick = [this](TControl& sender) { ButtonEchoClick(sender); };
    ButtonSonder.OnClick = [this](TControl& sender) { ButtonSonderClick(sender); };
    cbTLS.Caption = "TLS";
    cbTLS.Hint = "DICOM sur TLS pour tout échange avec le nœud";
    cboTLSVerify.Items = {"require", "ignore"};
    cboTLSVerify.Text = "require";
    cboTLSVerify.Hint = "Certificat du nœud : vérifié (require) ou non (ignore)";
    for (const dicom::TlsProfile profile :
         {dicom::TlsProfile::Bcp195Nd, dicom::TlsProfile::Bcp195, dicom::TlsProfile::Bcp195Extended,
          dicom::TlsProfile::Aes, dicom::TlsProfile::Null})
        cboTLSProfile.Items.push_back(dicom::TlsProfileName(profile));
    cboTLSProfile.Text = "bcp195-nd";
    cboTLSProfile.Hint = "Profil TLS : versions et suites de chiffrement proposées";
    EditTLSCA.Hint = "Certificats de confiance : fichier PEM ou dossier (vide : ceux du système)";
    EditTLSCert.Hint = "Notre certificat, PEM (si le nœud en demande un)";
    EditTLSKey.Hint =
        std::string("Sa clé privée, PEM ; mot de passe dans ") + dicom::kTlsKeyPasswordVariable;
    ShowConnectionFields();
}

ConnectionValues TFormTestWL::ConnectionInForce() const {
    return {QueryTimeouts, QueryMaxPdu, QueryLimits.maxResults};
}

void TFormTestWL::ShowConnectionFields() {
    shownConnection_.clear();
    const ConnectionValues values = ConnectionInForce();
    for (std::size_t i = 0; i < std::size(kConnectionSettings); ++i) {
        const std::uint32_t value = SettingValue(kConnectionSettings[i], values);
        ConnectionField(*this, i).Text = std::to_string(value);
        shownConnection_.push_back(ConnectionField(*this, i).Text);
    }
}

// A field left as shown keeps the value in force, which a caller may have
// set itself; one the operator changed must hold a value within bounds.
void TFormTestWL::ConnectionFromFields(ConnectionValues& values) const {
    for (std::size_t i = 0; i < std::size(kConnectionSettings); ++i) {
        const std::string& text = ConnectionField(*this, i).Text;
        if (i < shownConnection_.size() && text == shownConnection_[i]) continue;
        const ConnectionSetting setting = kConnectionSettings[i];
        ApplySetting(setting, ParseSetting(setting, text), values);
    }
}

// A stored value out of bounds keeps the default, and the log says so.
void TFormTestWL::ReadConnectionSettings() {
    ConnectionValues values = ConnectionInForce();
    for (const ConnectionSetting setting : kConnectionSettings) {
        const std::string text = ReadSetting(kSettingsSection, SettingName(setting));
        if (text.empty()) continue;
        try {
            ApplySetting(setting, ParseSetting(setting, text), values);
        } catch (const Exception&) {
            AppLogger().Log(std::string("Paramètre ") + SettingName(setting) + " invalide : '" +
                                text + "' (valeur par défaut " +
                                std::to_string(SettingValue(setting, values)) + " gardée)",
                            LogLevel::Error, 0);
        }
    }
    QueryTimeouts = values.timeouts;
    QueryMaxPdu = values.maxPdu;
    QueryLimits.maxResults = values.maxResults;
    ShowConnectionFields();
}

// The values the next request would take; a field that holds no valid
// value leaves the value in force.
void TFormTestWL::WriteConnectionSettings() {
    ConnectionValues values = ConnectionInForce();
    for (std::size_t i = 0; i < std::size(kConnectionSettings); ++i) {
        const std::string& text = ConnectionField(*this, i).Text;
        if (i < shownConnection_.size() && text == shownConnection_[i]) continue;
        try {
            const ConnectionSetting setting = kConnectionSettings[i];
            ApplySetting(setting, ParseSetting(setting, text), values);
        } catch (const Exception&) {
            // The value in force is stored; the next request says what is wrong.
        }
    }
    for (const ConnectionSetting setting : kConnectionSettings)
        WriteSetting(kSettingsSection, SettingName(setting),
                     std::to_string(SettingValue(setting, values)));
}

// The stored TLS settings into the fields; a stored verification or profile
// that is not one of the list keeps the default, and the log says so.
void TFormTestWL::ReadTlsSettings() {
    const auto read = [](const char* name) { return ReadSetting(kSettingsSection, name); };
    cbTLS.Checked = read("TLS") == "1";
    EditTLSCert.Text = read("TLSCert");
    EditTLSKey.Text = read("TLSKey");
    EditTLSCA.Text = read("TLSCA");
    const auto choose = [](TComboBox& box, const char* name, const std::string& text,
                           const auto& parse) {
        if (text.empty()) return;
        try {
            parse(text);
            box.Text = text;
        } catch (const Exception&) {
            AppLogger().Log(std::string("Paramètre ") + name + " invalide : '" + text +
                                "' (valeur par défaut " + box.Text + " gardée)",
                            LogLevel::Error, 0);
        }
    };
    choose(cboTLSVerify, "TLSVerify", read("TLSVerify"), ParseTlsVerify);
    choose(cboTLSProfile, "TLSProfile", read("TLSProfile"), ParseTlsProfile);
}

void TFormTestWL::WriteTlsSettings() {
    const std::string values[] = {cbTLS.Checked ? "1" : "0", EditTLSCert.Text,
                                  EditTLSKey.Text,           EditTLSCA.Text,
                                  cboTLSVerify.Text,         cboTLSProfile.Text};
    for (std::size_t i = 0; i < std::size(kTlsSettingNames); ++i)
        WriteSetting(kSettingsSection, kTlsSettingNames[i], values[i]);
}

dicom::DicomTls TFormTestWL::TlsFromFields() const {
    dicom::DicomTls tls;
    tls.enabled = cbTLS.Checked;
    tls.certificateFile = EditTLSCert.Text;
    tls.privateKeyFile = EditTLSKey.Text;
    tls.trusted = EditTLSCA.Text;
    tls.verify = ParseTlsVerify(cboTLSVerify.Text);
    tls.profile = ParseTlsProfile(cboTLSProfile.Text);
    return tls;
}

// The report of each association of the last exchange, in the memo and, at
// the level of the opening line, in the log.
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

void TFormTestWL::ButtonEchoClick(TControl&) {
    diagnosticSucceeded_ = false;
    const std::optional<dicom::DicomPeer> peer = PeerOfFields(*this, ListBoxResult.Items);
    if (!peer) return;
    ListBoxResult.Items.Clear();
    host_.ProcessMessages();
    const EchoOutcome outcome = RunEcho(*peer);
    ListLines(ListBoxResult.Items, EchoLines(outcome));
    ShowExchange({outcome.report}, true);
    diagnosticSucceeded_ = outcome.Succeeded();
}

void TFormTestWL::ButtonSonderClick(TControl&) {
    diagnosticSucceeded_ = false;
    const std::optional<dicom::DicomPeer> peer = PeerOfFields(*this, ListBoxResult.Items);
    if (!peer) return;
    ListBoxResult.Items.Clear();
    host_.ProcessMessages();
    const dicom::DicomProbeResult probe = dicom::DicomProbe(*peer);
    ListLines(ListBoxResult.Items, ProbeLines(probe));
    ShowExchange(probe.reports, true);
    diagnosticSucceeded_ = probe.Reached() && probe.AnyAccepted();
}

// The responses of the last query, as DICOM JSON or CSV by the extension
// of the file chosen.
void TFormTestWL::ButtonExporterClick(TControl&) {
    if (lastQuery_.responses.DataSetsCount() == 0) {
        host_.ShowMessage(ApplicationTitle(), "Aucune réponse à exporter", MessageKind::Error);
        return;
    }
    const std::optional<std::string> file = host_.ChooseSaveFile("reponses.json");
    if (!file) return;
    const std::string extension = std::filesystem::path(*file).extension().string();
    if (extension == ".json") {
        ExportResponsesJson(*file, lastQuery_.responses);
    } else if (extension == ".csv") {
        ExportResponsesCsv(*file, lastQuery_.responses);
    } else {
        host_.ShowMessage(ApplicationTitle(),
                          "Choisissez un fichier .json (DICOM JSON) ou .csv : " + *file,
                          MessageKind::Error);
    }
}

// The query of the chosen kind to the node of the fields (A) and to the
// second address (B, the first one's for what is left empty); the report in
// the result list.
void TFormTestWL::ButtonComparerClick(TControl&) {
    const std::optional<QueryLevel> level = LevelOfKind(cboCompareKind.Text);
    if (!level) {
        ListLines(ListBoxResult.Items,
                  {"EConvertError", "Type de requête inconnu : '" + cboCompareKind.Text + "'"});
        return;
    }
    std::optional<QueryRequest> a;
    QueryNode b;
    try {
        a = QueryRequestFromFields(*level);
        b = a->node;
        if (!EditIP2.Text.empty()) b.address = EditIP2.Text;
        if (!EditPort2.Text.empty()) b.port = StrToInt(EditPort2.Text);
        if (!EditAETitle2.Text.empty()) b.calledAETitle = EditAETitle2.Text;
    } catch (const Exception& e) {
        ListLines(ListBoxResult.Items, {e.ClassName(), e.Message()});
        return;
    }
    ListBoxResult.Items.Clear();
    host_.ProcessMessages();
    const ComparisonRun run = CompareNodes(*a, b);
    std::vector<std::string> lines;
    for (const auto& [node, outcome] : {std::pair{"A", &run.a}, std::pair{"B", &run.b}}) {
        if (!outcome->failure) continue;
        lines.push_back(std::string("Noeud ") + node + " : " + outcome->failure->ClassName());
        lines.push_back(VisibleText(outcome->failure->message));
    }
    if (lines.empty()) {
        for (const std::string& line : ComparisonLines(run.comparison))
            lines.push_back(VisibleText(line));
    }
    ListLines(ListBoxResult.Items, lines);
    ShowExchange({run.a.report, run.b.report}, true);
}

}  // namespace lumo::app
