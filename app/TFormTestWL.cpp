#include "app/TFormTestWL.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "app/BatchType1.h"
#include "app/LinesFile.h"
#include "app/StrToInt.h"
#include "app/WorklistCheckIdentifier.h"
#include "dicom/DicomAttribute.h"
#include "dicom/DicomAttributes.h"
#include "dicom/DicomDataSet.h"
#include "dicom/DicomDataSets.h"
#include "dicom/Variant.h"
#include "dicom/pacsFunctionsProcedures.h"
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
const char* const kSeparator = "---------------------";
const char* const kNoResult = "Aucun résultat";
const char* const kResultFileName = "ResultQuery.TXT";
const char* const kPatientRootFind = "1.2.840.10008.5.1.4.1.2.1.1";
const char* const kStudyRootFind = "1.2.840.10008.5.1.4.1.2.2.1";

std::string TimeStamp() { return FormatDateTime("hh:nn:ss.zzz", Now()); }
std::string Today() { return FormatDateTime("yyyymmdd", Now()); }

// The window's connection settings between runs, under the form's name.
const char* const kSettingsSection = "FormTestWL";

// "Unable to process": the final status of a relayed request that got no
// answer from the node.
constexpr std::uint16_t kRelayFailed = 0xC000;

// The text of one top-level attribute of a response: absent and empty both
// give the empty text.
std::string Text(const DicomAttributes& attributes, std::uint16_t group, std::uint16_t element) {
    return dicom::VarToStr(attributes.AttributesFind(group, element).AttributeValue());
}

// The value of the attribute called `name` in a sequence's items; the names
// of the attributes that come before it, or of an item that lacks it, are
// gathered as "|" + name. The last item holding the name wins. An absent or
// empty sequence gives the empty text, so a response without it still lists.
std::string SequenceValueByName(const DicomAttribute& sequence, const std::string& name) {
    std::string result;
    const Variant value = sequence.AttributeValue();
    if (value.IsNull()) return result;
    const DicomDataSets items = value.AsCollection();
    const int itemCount = items.DataSetsCount();
    for (int i = 1; i <= itemCount; ++i) {
        const DicomAttributes attributes = items.DataSetsItem(i).DataSetAttributes();
        const int count = attributes.AttributesCount();
        for (int j = 1; j <= count; ++j) {
            const DicomAttribute attribute = attributes.AttributesItemAt(j);
            std::string attributeName = attribute.AttributeDisplayName();
            if (attributeName == name) {
                result = dicom::VarToStr(attribute.AttributeValue());
                break;
            }
            result += '|';
            result += attributeName;
        }
    }
    return result;
}

// One labelled line, built in a single allocation: a listing of a hundred
// thousand responses makes well over a million of them.
std::string Labelled(std::string_view label, const std::string& value) {
    std::string line;
    line.reserve(label.size() + value.size());
    line.append(label).append(value);
    return line;
}

void AddText(DicomAttributes& attributes, std::uint16_t group, std::uint16_t element,
             const std::string& text) {
    attributes.AttributesAdd(group, element, Variant(text));
}

void AddReturnKeys(DicomAttributes& attributes,
                   std::initializer_list<std::pair<std::uint16_t, std::uint16_t>> tags) {
    for (const auto& [group, element] : tags) AddText(attributes, group, element, std::string());
}

// Which lines a response's block has: a worklist item, or a C-FIND answer at
// its level.
struct ListingKind {
    bool worklist = false;
    bool study = false;
    bool series = false;
    bool image = false;

    std::size_t LinesPerBlock() const {
        return worklist ? 13 : (study ? 14 : (series ? 16 : (image ? 15 : 11)));
    }
};

// The block of one response, ending with the separator. A worklist item
// loses its (0008,0051) here, so that it is not passed on.
void ListResponse(TStrings& lines, const DicomDataSet& response, const ListingKind& kind) {
    DicomAttributes attributes = response.DataSetAttributes();
    // Read once: the header line and the C-FIND lines share them.
    const std::string accession = Text(attributes, 0x0008, 0x0050);
    const std::string patientId = Text(attributes, 0x0010, 0x0020);
    const std::string seriesDescription = Text(attributes, 0x0008, 0x103E);
    std::string header;
    header.reserve(accession.size() + patientId.size() + seriesDescription.size() + 8);
    header.append(accession).append("     ").append(patientId).append("   ").append(
        seriesDescription);
    lines.Add(std::move(header));
    if (kind.worklist) {
        lines.Add(Labelled("0020,0010 ", Text(attributes, 0x0020, 0x0010)));
        lines.Add(Text(attributes, 0x0020, 0x000D));
        lines.Add(Labelled("Référant ", Text(attributes, 0x0008, 0x0090)));
        lines.Add(Labelled("Study Description 0008, $1030", Text(attributes, 0x0008, 0x1030)));
        lines.Add(Labelled("Study Description 0032, $1060", Text(attributes, 0x0032, 0x1060)));
        lines.Add(Labelled("Code d'acte $0040,$0009", Text(attributes, 0x0040, 0x0009)));
        lines.Add(Labelled("Code d'acte $0040,$1001", Text(attributes, 0x0040, 0x1001)));
        lines.Add(Labelled("Code d'acte $0040,$0253", Text(attributes, 0x0040, 0x0253)));
        lines.Add(Labelled("Modalité ", Text(attributes, 0x0008, 0x0060)));
        lines.Add("Requested Code d'acte $0008,$0100 " +
                  SequenceValueByName(attributes.AttributesFind(0x0032, 0x1064), "Code Value"));
        lines.Add("Scheduled Code d'acte $0040,$0009 " +
                  SequenceValueByName(attributes.AttributesFind(0x0040, 0x0100),
                                      "Scheduled Procedure Step ID"));
        // Some modalities refuse a worklist entry that carries
        // this sequence: it is not passed on.
        if (attributes.AttributesFind(0x0008, 0x0051).AttributeIsPresent()) {
            lines.Add("0008,0051 Found -> Remove from response attribute");
            attributes.AttributesRemove(0x0008, 0x0051);
        }
    } else {
        lines.Add(Labelled("Patient: ", Text(attributes, 0x0010, 0x0010)));
        lines.Add(Labelled("Dossier: ", patientId));
        lines.Add(Labelled("Naissance: ", Text(attributes, 0x0010, 0x0030)));
        lines.Add(Labelled("Study Date: ", Text(attributes, 0x0008, 0x0020)));
        lines.Add(Labelled("Study Time: ", Text(attributes, 0x0008, 0x0030)));
        lines.Add(Labelled("Visite: ", accession));
        lines.Add(Labelled("StudyUID: ", Text(attributes, 0x0020, 0x000D)));
        lines.Add(Labelled("Referant: ", Text(attributes, 0x0008, 0x0090)));
        lines.Add(Labelled("Institution: ", Text(attributes, 0x0008, 0x0080)));
        if (kind.study) {
            lines.Add(Labelled("Nb Series : ", Text(attributes, 0x0020, 0x1206)));
            lines.Add(Labelled("Nb Instances : ", Text(attributes, 0x0020, 0x1208)));
            lines.Add(Labelled("Modalite : ", Text(attributes, 0x0008, 0x0060)));
        } else if (kind.series) {
            lines.Add(Labelled("SeriesUID : ", Text(attributes, 0x0020, 0x000E)));
            lines.Add(Labelled("Nb Instances : ", Text(attributes, 0x0020, 0x1209)));
            lines.Add(Labelled("Series Nbr : ", Text(attributes, 0x0020, 0x0011)));
            lines.Add(Labelled("Series Desc : ", seriesDescription));
            lines.Add(Labelled("Modalite : ", Text(attributes, 0x0008, 0x0060)));
        } else if (kind.image) {
            lines.Add(Labelled("SeriesUID : ", Text(attributes, 0x0020, 0x000E)));
            lines.Add(Labelled("InstanceUID : ", Text(attributes, 0x0008, 0x0018)));
            lines.Add(Labelled("SOPClass : ", Text(attributes, 0x0008, 0x0016)));
            lines.Add(Labelled("InstanceNumber : ", Text(attributes, 0x0020, 0x0013)));
        }
    }
    lines.Add(kSeparator);
}

}  // namespace

TControl::TControl(std::string name, ControlKind kind, std::string parent)
    : Name(std::move(name)), Kind(kind), Parent(std::move(parent)) {}

void TStrings::Add(std::string line) {
    lines_.push_back(std::move(line));
    ++revision_;
}

void TStrings::Clear() {
    lines_.clear();
    ++revision_;
}

void TStrings::Assign(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    ++revision_;
}

void TStrings::Assign(TStrings&& other) {
    lines_ = std::move(other.lines_);
    other.lines_.clear();
    ++other.revision_;
    ++revision_;
}

void TStrings::Delete(std::size_t index) {
    if (index >= lines_.size()) {
        throw Exception(ErrorClass::EStringListError,
                        "List index out of bounds (" + std::to_string(index) + ")");
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
    ++revision_;
}

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
    EditCallingAETitle.Text = "Lumo4410";
    EditIP.Text = "127.0.0.1";
    EditPort.Text = "3100";
    EditAETitle.Text = "NORVANEX";
    cboModalite.Items = {"CR", "US", "CT", "RF", "OT", "SC", "MR", "XA", "MG"};
    cbSaveResults.Caption = "Save Results";

    lblDHDemande.LabelCaption = "Demandée à :";
    lblDHReponse.LabelCaption = "Réponse à :";

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

    ButtonWL.OnClick = [this](TControl& sender) { ButtonWLClick(sender); };
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

    AddControls();
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

    const std::vector<std::string> params = CommandLineParams();
    if (!params.empty() && params[0] == "LISTEN") {
        const std::int32_t port = StrToInt(params.size() > 1 ? params[1] : std::string());
        listening_ = DicomViewer1.Viewer.ViewerListen(port);
    }
    Form.Caption += " - v." + GetFileVersionText(ProgramFileName(), false);
    AppLogger().Log("Ouverture LUMO4410", 100, 0);
}

void TFormTestWL::FormDestroy() {
    if (!WriteBackSettings) return;
    WriteSetting(kSettingsSection, "IP", EditIP.Text);
    WriteSetting(kSettingsSection, "Port", EditPort.Text);
    WriteSetting(kSettingsSection, "AETitle", EditAETitle.Text);
    WriteSetting(kSettingsSection, "CallingAETitle", EditCallingAETitle.Text);
    WriteSetting(kSettingsSection, "Modalite", cboModalite.Text);
}

void TFormTestWL::PressQueryButton(bool worklist, const std::string& level) {
    lblDHDemande.Caption = TimeStamp();
    lblDHReponse.Caption.clear();
    host_.ProcessMessages();
    LaunchQuery(worklist, level);
    host_.QueryListed();
}

void TFormTestWL::ButtonWLClick(TControl& sender) {
    PressQueryButton(&sender == &ButtonWL, "STUDY");
}

void TFormTestWL::ButtonCFindPatientClick(TControl&) { PressQueryButton(false, "PATIENT"); }

void TFormTestWL::ButtonCFindStudySeriesClick(TControl&) { PressQueryButton(false, "SERIES"); }

void TFormTestWL::ButtonCFindStudyImageClick(TControl&) { PressQueryButton(false, "IMAGE"); }

void TFormTestWL::Button1Click(TControl&) {
    host_.ShowMessage(ApplicationTitle(), "Pas encore implémentée", MessageKind::Plain);
}

void TFormTestWL::Button2Click(TControl&) {
    host_.ShowMessage(ApplicationTitle(), "Pas encore implémenté", MessageKind::Plain);
}

void TFormTestWL::ButtonCFINDType1Click(TControl&) { RunBatchType1(*this); }

// The result file is named relative to the current folder, not the
// program's: it lands where the operator started the console.
void TFormTestWL::Button5Click(TControl&) {
    SaveLinesToFile(kResultFileName, ListBoxResult.Items.Lines());
}

void TFormTestWL::Button6Click(TControl&) {
    // Read in full before the list is touched: a file that cannot be read
    // leaves the list as it was.
    ListBoxResult.Items.Assign(LoadLinesFromFile(kResultFileName).lines);
}

void TFormTestWL::LogAndList(const std::string& text) {
    AppLogger().Log(text, 250, 0);
    ListBoxResult.Items.Add(text);
}

void TFormTestWL::Button3Click(TControl&) {
    const std::optional<DicomDataSets> responses = RequestWorklist(cboModalite.Text);
    LogAndList("checkResults");
    checkResults(responses);
}

std::optional<DicomDataSets> TFormTestWL::RequestWorklist(const std::string& modality) {
    dicom::DicomQuery query;
    query.SetTimeouts(QueryTimeouts);
    query.QuerySetCallingAETitle(EditCallingAETitle.Text);
    query.QuerySetCalledAETitle(EditAETitle.Text);
    query.QuerySetNodeAddress(EditIP.Text);
    query.QuerySetNodePort(StrToInt(EditPort.Text));
    query.QuerySetRoot("WORKLIST");
    query.QuerySetLevel("STUDY");
    const DicomDataSet identifier =
        BuildWorklistCheckIdentifier(query.QueryGetLevel(), modality, EditAccession.Text,
                                     EditAccession.Text.empty() ? EditDate.Text : std::string());

    LogAndList("Worklist demandé à " + query.QueryGetCalledAETitle());
    DicomDataSets responses;
    try {
        responses = query.QueryRun(identifier);
    } catch (const Exception& e) {
        LogAndList("Exception(" + e.ClassName() + "):" + e.Message());
        return std::nullopt;
    }
    LogAndList("-> Réponse arrivée");
    if (responses.DataSetsCount() == 0) LogAndList("Aucun résultat pour Query");
    return responses;
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
            AppLogger().Log(nullLabel + accession, 50, 0);
        }
    };

    // No answer, no matching entry, or an entry without a scheduled step
    // item: nothing to examine, and the run still ends as usual.
    if (responses) {
        LogAndList("Res");
        if (responses->DataSetsCount() > 0) {
            const DicomDataSet first = responses->DataSetsItem(1);
            LogAndList("studyuid:" + first.DataSetStudyUID());
            const DicomAttributes attributes = first.DataSetAttributes();
            const DicomAttribute sequence = attributes.AttributesFind(0x0040, 0x0100);
            if (sequence.AttributeIsPresent()) {
                const Variant steps = sequence.AttributeValue();
                if (!steps.IsNull() && steps.AsCollection().DataSetsCount() > 0) {
                    const DicomAttributes step =
                        steps.AsCollection().DataSetsItem(1).DataSetAttributes();
                    dicom::pacsRetDicomAttr(step, 0x0008, 0x0060);
                    check(step, 0x0040, 0x0002,
                          "Reponse avec Study StartDate null:", "Reponse sans Study StartDate:", 5);
                    check(step, 0x0040, 0x0003, "Reponse avec Study StartTime null:",
                          "Reponse sans Study StartTime:", 50);
                }
            } else {
                if (dicom::pacsRetFirstDicomAttr(attributes, 0x0008, 0x0061).empty()) {
                    dicom::pacsRetFirstDicomAttr(attributes, 0x0008, 0x0060);
                }
                check(attributes, 0x0008, 0x0020,
                      "Reponse avec StudyDate null:", "Reponse sans StudyDate:", 50);
                check(attributes, 0x0008, 0x0030,
                      "Reponse avec StudyTime null:", "Reponse sans StudyTime:", 50);
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
    AppLogger().Log("Query Request :" + number() + " Début", 250, 0);
    try {
        AppLogger().Log("Query Request Connection.Root : " + connection.ConnectionRoot(), 250, 0);
        const DicomDataSet request = connection.ConnectionRequest();
        const DicomAttributes keys = request.DataSetAttributes();
        AppLogger().Log("Query Request Connection.Level : " +
                            dicom::VarToStr(keys.AttributesFind(0x0008, 0x0052).AttributeValue()),
                        250, 0);
        EditCallingAETitle.Text = connection.ConnectionCallingAETitle();
        EditAETitle.Text = connection.ConnectionCalledAETitle();
        const DicomAttribute date = keys.AttributesFind(0x0040, 0x0002);
        // The date goes on as the caller wrote it (a single date or a range):
        // its locale form would not be a date the node can match.
        EditDate.Text =
            date.AttributeValue().IsNull() ? Today() : date.AttributeWideValue().AsText();
        EditAccession.Text = request.DataSetAccessionNumber();
        EditDossier.Text = request.DataSetPatientID();
        PendingConnection = connection;
        ButtonWL.Click();
        AppLogger().Log("Query Request :" + number() + " Fin", 250, 0);
    } catch (const Exception& e) {
        AppLogger().Log(
            "Exception dans Query Request :" + number() + " (" + e.ClassName() + "):" + e.Message(),
            5, 0);
    }
    // The request is over once this handler returns: later queries must not
    // write to it. A caller the forwarded query could not answer (the node
    // failed, or the request was unusable) is told so with a failure status
    // rather than left waiting.
    PendingConnection.reset();
    if (connection.ConnectionIsWaiting()) {
        try {
            connection.ConnectionSendStatus(kRelayFailed);
        } catch (const Exception&) {
            // The caller has gone; the listener ends the association.
        }
    }
}

void TFormTestWL::LaunchQuery(bool worklist, const std::string& level) {
    TStrings& lines = ListBoxResult.Items;
    lines.Clear();
    try {
        // The request.
        DicomDataSet identifier;
        DicomDataSets sequence;
        DicomDataSet item;
        sequence.DataSetsAppend(item);
        dicom::DicomQuery query;
        query.SetTimeouts(QueryTimeouts);
        query.QuerySetCallingAETitle(EditCallingAETitle.Text);
        query.QuerySetCalledAETitle(EditAETitle.Text);
        query.QuerySetNodeAddress(EditIP.Text);
        std::int32_t port = 0;
        try {
            port = StrToInt(EditPort.Text);
        } catch (const Exception& e) {
            // Nothing was sent; say so rather than leave an empty list.
            lblDHReponse.Caption = "Erreur";
            lines.Add(e.ClassName());
            lines.Add(e.Message());
            return;
        }
        query.QuerySetNodePort(port);

        DicomAttributes top = identifier.DataSetAttributes();
        if (worklist) {
            query.QuerySetRoot("WORKLIST");
            query.QuerySetLevel("STUDY");
            AddText(top, 0x0008, 0x0050, EditAccession.Text);
            AddText(top, 0x0010, 0x0020, EditDossier.Text);
            top.AttributesAdd(0x0040, 0x0100, Variant(sequence));
            DicomAttributes step = item.DataSetAttributes();
            AddText(step, 0x0008, 0x0060, cboModalite.Text);
            AddText(step, 0x0040, 0x0002, EditDate.Text);
            AddReturnKeys(step, {{0x0008, 0x0090},
                                 {0x0008, 0x0100},
                                 {0x0008, 0x1030},
                                 {0x0008, 0x103E},
                                 {0x0010, 0x0010},
                                 {0x0020, 0x000D},
                                 {0x0020, 0x0010},
                                 {0x0020, 0x0060},
                                 {0x0032, 0x1060},
                                 {0x0040, 0x0007},
                                 {0x0040, 0x0009},
                                 {0x0040, 0x0010},
                                 {0x0040, 0x0253},
                                 {0x0040, 0x1001},
                                 {0x0040, 0x1400}});
        } else {
            if (level == "PATIENT") {
                query.QuerySetRoot("PATIENT");
                AddText(top, 0x0008, 0x0052, "PATIENT");
                AddText(top, 0x0000, 0x0002, kPatientRootFind);
            } else {
                query.QuerySetRoot("STUDY");
                AddText(top, 0x0008, 0x0052, level);
                AddText(top, 0x0000, 0x0002, kStudyRootFind);
                AddReturnKeys(top, {{0x0008, 0x0021},
                                    {0x0008, 0x0030},
                                    {0x0008, 0x0031},
                                    {0x0008, 0x0070},
                                    {0x0008, 0x0080},
                                    {0x0008, 0x103E},
                                    {0x0008, 0x1050},
                                    {0x0008, 0x1070},
                                    {0x0008, 0x1090},
                                    {0x0018, 0x0015},
                                    {0x0018, 0x1016},
                                    {0x0018, 0x1018},
                                    {0x0018, 0x1020},
                                    {0x0020, 0x000E}});
                AddText(top, 0x0008, 0x0050, EditAccession.Text);
                AddText(top, 0x0008, 0x0060, cboModalite.Text);
                AddText(top, 0x0008, 0x0090, EditNomMedRef.Text);
                AddText(top, 0x0020, 0x000D, EditStudyUID.Text);
                if (level == "STUDY") {
                    AddReturnKeys(top, {{0x0020, 0x1206}, {0x0020, 0x1208}});
                } else if (level == "SERIES") {
                    AddText(top, 0x0020, 0x000E, EditSeriesUID.Text);
                    AddReturnKeys(top, {{0x0020, 0x0011}, {0x0020, 0x1209}});
                } else if (level == "IMAGE") {
                    AddText(top, 0x0020, 0x000E, EditSeriesUID.Text);
                    AddReturnKeys(top, {{0x0008, 0x0018}, {0x0008, 0x0016}, {0x0020, 0x0013}});
                }
            }
            AddText(top, 0x0000, 0x0800, "0");
            AddText(top, 0x0008, 0x0005, "ISO_IR 100");
            AddText(top, 0x0010, 0x0010, EditNomPatient.Text);
            AddText(top, 0x0010, 0x0030, EditNaissance.Text);
            AddText(top, 0x0010, 0x0020, EditDossier.Text);
            AddText(top, 0x0008, 0x0020, EditDate.Text);
        }

        // The query: its failure is the one the operator is told about.
        ListingKind kind;
        kind.worklist = worklist;
        kind.study = !worklist && level == "STUDY";
        kind.series = !worklist && level == "SERIES";
        kind.image = !worklist && level == "IMAGE";
        // Without save files, each block is listed as its response arrives,
        // while the node prepares the next one, and shown once the query has
        // succeeded. Save files are written after a successful query only,
        // each before its block, so that listing waits for the end.
        const bool listAsReceived = !cbSaveResults.Checked;
        TStrings received;
        // Room for the lines of the first 16,384 responses: the list grows
        // without moving its lines at the usual counts, and pages of the room
        // left unused are never touched.
        if (listAsReceived) received.Reserve(kind.LinesPerBlock() * 16'384);
        bool listingFailed = false;
        const dicom::DicomQuery::ResponseHandler listResponse = [&](const DicomDataSet& response) {
            if (listingFailed) return;
            try {
                ListResponse(received, response, kind);
            } catch (const std::exception&) {
                // A listing that fails stops there and ends the query
                // quietly once it is in, as it always has: what is listed
                // stays.
                listingFailed = true;
            }
        };
        DicomDataSets responses;
        try {
            responses = query.QueryRun(identifier, listAsReceived ? listResponse : nullptr);
        } catch (const std::exception& e) {
            lblDHReponse.Caption = "Erreur";
            lines.Add(ExceptionClassName(e));
            lines.Add(e.what());
            return;
        }
        lblDHReponse.Caption = TimeStamp();
        lines.Clear();

        // The listing.
        const int count = responses.DataSetsCount();
        if (count == 0) {
            lines.Add(kNoResult);
        } else if (listAsReceived) {
            lines.Assign(std::move(received));
            if (listingFailed) return;
        } else {
            lines.Reserve(static_cast<std::size_t>(count) * kind.LinesPerBlock());
            for (int i = 1; i <= count; ++i) {
                const DicomDataSet response = responses.DataSetsItem(i);
                const std::string fileName = "Logs/Lumo4410_" + std::to_string(i) + ".dcm";
                try {
                    std::error_code ignored;
                    std::filesystem::create_directories("Logs", ignored);
                    response.DataSetWriteFile(fileName);
                } catch (const std::exception& e) {
                    lines.Add("Exception dans DataSetWriteFile(" + fileName +
                              "):" + ExceptionClassName(e) + ":" + e.what());
                }
                ListResponse(lines, response, kind);
            }
        }

        // The answer to an incoming request that waits for it. The connection
        // is dropped once it has its final status, or once its request has
        // ended otherwise: later queries must not write to it.
        if (PendingConnection) {
            dicom::DicomConnection connection = std::move(*PendingConnection);
            PendingConnection.reset();
            if (connection.ConnectionIsWaiting()) {
                connection.ConnectionSendResponses(responses, 0xFF00);
                connection.ConnectionSendStatus(0);
            }
        }
    } catch (const std::exception&) {
        // Any other failure ends the query quietly: what is listed stays.
    }
}

}  // namespace lumo::app
