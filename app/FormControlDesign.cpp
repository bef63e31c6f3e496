#include "app/FormControlDesign.h"

#include <iterator>

namespace lumo::app {

namespace {

using K = ControlKind;

// The hint of the fields a C-FIND uses beyond the worklist's.
constexpr const char* kHintCFind = "Paramètre CFIND => Norvanex 2.5.3.7 minimum";

// The input block: two columns of fields, the wide UID fields, three rows of
// buttons and the two time labels, left of the batch panel.
constexpr int kColA = kInputColumnA;
constexpr int kColB = kInputColumnB;
constexpr int kRow = 25;  // row pitch
// Below the row of the node chooser, at the top.
constexpr int kTop = 8 + kRow;
constexpr int kField = 21;  // input height

constexpr ControlBox Field(int column, int row, int width) {
    return {column, kTop + row * kRow, width, kField};
}
constexpr ControlBox Button(int column, int row) {
    return {8 + column * 145, 212 + kRow + row * 28, 140, 25};
}

constexpr unsigned kBoth = MarkW | MarkCF;

// clang-format off
constexpr ControlDesign kDesigns[] = {
    {.name = "FormTestWL", .kind = K::Form, .parent = "", .caption = "Query Worklist / CFIND",
     .box = {0, 0, 905, 676}},

    // Input block (top, 402 pixels high: the node chooser's row above the
    // design's 329, and two rows more for the Diagnostic tab's DICOMweb
    // fields; the window is as much taller, the result list as high).
    {.name = "Panel2", .kind = K::Panel, .parent = "FormTestWL", .box = {0, 0, 0, 402}},
    {.name = "EditCallingAETitle", .kind = K::Edit, .parent = "Panel2", .label = "AETitleCalling:",
     .text = "Lumo4410", .marks = kBoth, .tabOrder = 0, .box = Field(kColA, 0, 150)},
    {.name = "EditIP", .kind = K::Edit, .parent = "Panel2", .label = "IP:", .text = "127.0.0.1",
     .marks = kBoth, .tabOrder = 1, .box = Field(kColA, 1, 150)},
    {.name = "EditPort", .kind = K::Edit, .parent = "Panel2", .label = "Port:", .text = "3100",
     .marks = kBoth, .tabOrder = 2, .box = Field(kColA, 2, 150)},
    {.name = "EditAETitle", .kind = K::Edit, .parent = "Panel2", .label = "AETitle:",
     .text = "NORVANEX", .marks = kBoth, .tabOrder = 3, .box = Field(kColA, 3, 150)},
    {.name = "EditAccession", .kind = K::Edit, .parent = "Panel2", .label = "Accession:",
     .marks = kBoth, .tabOrder = 4, .box = Field(kColA, 4, 150)},
    {.name = "EditDossier", .kind = K::Edit, .parent = "Panel2", .label = "Dossier:",
     .hint = kHintCFind, .marks = kBoth, .tabOrder = 5, .box = Field(kColA, 5, 150)},
    {.name = "EditNomPatient", .kind = K::Edit, .parent = "Panel2", .label = "Nom Patient:",
     .hint = kHintCFind, .marks = MarkCF, .tabOrder = 6, .box = Field(kColB, 0, 140)},
    {.name = "EditNomMedRef", .kind = K::Edit, .parent = "Panel2", .label = "Nom MedRef:",
     .hint = kHintCFind, .marks = MarkCF, .tabOrder = 7, .box = Field(kColB, 1, 140)},
    {.name = "EditDate", .kind = K::Edit, .parent = "Panel2", .label = "Date:",
     .hint = kHintCFind, .marks = kBoth, .tabOrder = 9, .box = Field(kColB, 2, 140)},
    {.name = "EditNaissance", .kind = K::Edit, .parent = "Panel2", .label = "Naissance",
     .hint = kHintCFind, .marks = MarkCF, .tabOrder = 10, .box = Field(kColB, 3, 140)},
    {.name = "EditStudyUID", .kind = K::Edit, .parent = "Panel2", .label = "StudyUID",
     .hint = kHintCFind, .marks = MarkCF, .tabOrder = 11, .box = Field(kColA, 6, 432)},
    {.name = "cboModalite", .kind = K::ComboBox, .parent = "Panel2", .label = "Modalité:",
     .marks = MarkW, .tabOrder = 12, .box = Field(kColB, 4, 140)},
    {.name = "cbSaveResults", .kind = K::CheckBox, .parent = "Panel2", .caption = "Save Results",
     .marks = kBoth, .tabOrder = 16, .box = Field(kColB, 5, 140)},
    {.name = "EditSeriesUID", .kind = K::Edit, .parent = "Panel2", .label = "SeriesUID",
     .hint = kHintCFind, .marks = MarkCF, .tabOrder = 26, .box = Field(kColA, 7, 432)},

    // Request and response times; the label beside each is its field label.
    {.name = "lblDHDemande", .kind = K::Label, .parent = "Panel2", .label = "Demandée à :",
     .box = {kColA, 300 + kRow, 110, 17}},
    {.name = "lblDHReponse", .kind = K::Label, .parent = "Panel2", .label = "Réponse à :",
     .box = {352, 300 + kRow, 110, 17}},

    {.name = "ButtonWL", .kind = K::Button, .parent = "Panel2", .caption = "Worklist",
     .box = Button(0, 0)},
    {.name = "ButtonCFindStudyStudy", .kind = K::Button, .parent = "Panel2",
     .caption = "C-Find Study/Study", .box = Button(1, 0)},
    {.name = "ButtonCFindPatient", .kind = K::Button, .parent = "Panel2",
     .caption = "C-Find Patient/Patient", .box = Button(2, 0)},
    {.name = "ButtonCFindStudySeries", .kind = K::Button, .parent = "Panel2",
     .caption = "C-Find Study/Series", .box = Button(3, 0)},
    {.name = "ButtonCFindStudyImage", .kind = K::Button, .parent = "Panel2",
     .caption = "C-Find Study/Images", .box = Button(0, 1)},
    {.name = "Button1", .kind = K::Button, .parent = "Panel2", .caption = "C-Find Patient/Series",
     .box = Button(1, 1)},
    {.name = "Button2", .kind = K::Button, .parent = "Panel2", .caption = "C-Find Patient/Images",
     .box = Button(2, 1)},
    {.name = "Button3", .kind = K::Button, .parent = "Panel2", .caption = "Worklist TAVRIX",
     .box = Button(3, 1)},
    {.name = "bTestDate", .kind = K::Button, .parent = "Panel2", .caption = "Test Date",
     .box = Button(0, 2)},
    {.name = "Button5", .kind = K::Button, .parent = "Panel2", .caption = "Export Result",
     .box = Button(1, 2)},
    {.name = "Button6", .kind = K::Button, .parent = "Panel2", .caption = "Load Result",
     .box = Button(2, 2), .visible = false},
    // Stops what runs (a query, the worklist check, the batch); the one
    // control enabled meanwhile, and disabled otherwise.
    {.name = "ButtonArreter", .kind = K::Button, .parent = "Panel2", .caption = "Arrêter",
     .hint = "Arrête la requête en cours (C-CANCEL) ou le traitement par lot",
     .box = Button(3, 2)},
    // The address book, above the connection fields: choosing a node fills
    // them; the button keeps them under the name typed in the chooser.
    {.name = "cboNoeud", .kind = K::ComboBox, .parent = "Panel2", .label = "Nœud:",
     .hint = "Nœuds du carnet d'adresses : en choisir un remplit les champs de connexion",
     .box = {kColA, 8, 150, kField}},
    {.name = "ButtonEnregistrerNoeud", .kind = K::Button, .parent = "Panel2",
     .caption = "Enregistrer le nœud",
     .hint = "Garde IP, port, AE titles et TLS sous le nom tapé dans la liste « Nœud »",
     .box = {280, 6, 150, 25}},

    // Batch panel at the right of the input block (312 pixels wide).
    {.name = "Panel3", .kind = K::Panel, .parent = "Panel2", .box = {0, 0, 312, 0}},
    {.name = "PageControl1", .kind = K::PageControl, .parent = "Panel3"},
    {.name = "TabSheet1", .kind = K::TabSheet, .parent = "PageControl1", .caption = "Type 1"},
    {.name = "Label41", .kind = K::Label, .parent = "TabSheet1",
     .caption = "NOM;PRENOM;NAISSANCE;ACCESSION*;ID_ZUNDA",
     .hint = "Exemple record fichier LUMO4410_1.txt", .box = {4, 4, 290, 17}},
    {.name = "ButtonCFINDType1", .kind = K::Button, .parent = "TabSheet1",
     .caption = "CFind (ACCESSION+NOM)", .box = {4, 24, 290, 25}},
    {.name = "Label46", .kind = K::Label, .parent = "TabSheet1",
     .caption = "Fait CFIND avec ACCESSION + NOM à partir des valeurs du fichier sélectionné et "
                "recherche dans le résultat les valeur du %1 et %2 et remplace dans le SQL.  "
                "Mets automatiquement le \"= [ID_ZUNDA];\" à la fin du SQL.",
     .box = {4, 52, 290, 72}},
    {.name = "Label44", .kind = K::Label, .parent = "TabSheet1", .caption = "%1",
     .box = {4, 130, 18, kField}},
    {.name = "EditNomData1", .kind = K::Edit, .parent = "TabSheet1", .text = "StudyUID:",
     .box = {22, 130, 120, kField}},
    {.name = "Label45", .kind = K::Label, .parent = "TabSheet1", .caption = "%2",
     .box = {150, 130, 18, kField}},
    {.name = "EditNomData2", .kind = K::Edit, .parent = "TabSheet1", .text = "Visite:",
     .box = {168, 130, 126, kField}},
    {.name = "EditSQL", .kind = K::Edit, .parent = "TabSheet1",
     .text = "Update examen e set e.SIUID = '%1', e.idexterne = '%2' where e.id_examen",
     .hint = "String à générer avec résultat", .box = {4, 156, 290, kField}},
    {.name = "ListBoxOrig", .kind = K::ListBox, .parent = "TabSheet1", .box = {4, 182, 290, 88}},
    {.name = "MemoDest", .kind = K::Memo, .parent = "TabSheet1", .box = {4, 182, 290, 88},
     .visible = false},
    // "Enregistrement i / N" while the batch runs; hidden otherwise.
    {.name = "LabelBatchProgress", .kind = K::Label, .parent = "TabSheet1",
     .box = {4, 272, 290, 15}, .visible = false},

    // The tab "Diagnostic": echo and probe of the node, the connection's
    // timeouts and maximum PDU, DICOM over TLS, the comparison with a second
    // node, the export of the responses, and the report of the last
    // exchange, which takes the rest of the tab and grows with it. Every
    // field has its label on its left.
    {.name = "TabSheet2", .kind = K::TabSheet, .parent = "PageControl1", .caption = "Diagnostic"},
    {.name = "ButtonEcho", .kind = K::Button, .parent = "TabSheet2", .caption = "Echo",
     .box = {4, 4, 80, 25}},
    {.name = "ButtonSonder", .kind = K::Button, .parent = "TabSheet2", .caption = "Sonder",
     .box = {88, 4, 80, 25}},
    // A battery of queries: how the node matches, what it returns, where it
    // stops, its character sets, extended negotiation and timings.
    {.name = "ButtonProfil", .kind = K::Button, .parent = "TabSheet2", .caption = "Profil",
     .hint = "Profil du nœud : appariements, clés, limite, jeux de caractères, temps",
     .box = {172, 4, 80, 25}},
    {.name = "lblConnectTimeout", .kind = K::Label, .parent = "TabSheet2",
     .caption = "Connexion (s)", .box = {4, 33, 92, 21}},
    {.name = "EditConnectTimeout", .kind = K::Edit, .parent = "TabSheet2", .box = {98, 33, 48, 21}},
    {.name = "lblAssocTimeout", .kind = K::Label, .parent = "TabSheet2",
     .caption = "Association (s)", .box = {152, 33, 100, 21}},
    {.name = "EditAssocTimeout", .kind = K::Edit, .parent = "TabSheet2", .box = {254, 33, 50, 21}},
    {.name = "lblResponseTimeout", .kind = K::Label, .parent = "TabSheet2",
     .caption = "Réponse (s)", .box = {4, 57, 92, 21}},
    {.name = "EditResponseTimeout", .kind = K::Edit, .parent = "TabSheet2",
     .box = {98, 57, 48, 21}},
    {.name = "lblMaxPDU", .kind = K::Label, .parent = "TabSheet2", .caption = "PDU max (octets)",
     .box = {152, 57, 100, 21}},
    {.name = "EditMaxPDU", .kind = K::Edit, .parent = "TabSheet2", .box = {254, 57, 50, 21}},
    {.name = "lblMaxResults", .kind = K::Label, .parent = "TabSheet2", .caption = "Max. réponses",
     .box = {4, 81, 92, 21}},
    {.name = "EditMaxResults", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Réponses prises avant d'annuler la requête (0 : toutes)",
     .box = {98, 81, 48, 21}},
    {.name = "MemoDiagnostic", .kind = K::Memo, .parent = "TabSheet2", .box = {4, 324, 300, 46},
     .anchors = AnchorRight | AnchorBottom},
    {.name = "ButtonExporter", .kind = K::Button, .parent = "TabSheet2", .caption = "Exporter…",
     .box = {224, 266, 80, 25}},
    {.name = "lblSecondNode", .kind = K::Label, .parent = "TabSheet2",
     .caption = "Second nœud : IP, port, AE title", .box = {4, 225, 300, 17}},
    {.name = "EditIP2", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Adresse du second nœud (vide : celle du premier)", .box = {20, 243, 92, 21}},
    {.name = "EditPort2", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Port du second nœud (vide : celui du premier)", .box = {144, 243, 46, 21}},
    {.name = "EditAETitle2", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "AE title du second nœud (vide : celui du premier)", .box = {238, 243, 66, 21},
     .anchors = AnchorRight},
    {.name = "cboCompareKind", .kind = K::ComboBox, .parent = "TabSheet2", .text = "study",
     .hint = "Requête envoyée aux deux nœuds", .box = {54, 268, 86, 21}},
    {.name = "ButtonComparer", .kind = K::Button, .parent = "TabSheet2", .caption = "Comparer",
     .box = {142, 266, 80, 25}},
    {.name = "cbTLS", .kind = K::CheckBox, .parent = "TabSheet2", .caption = "TLS",
     .hint = "DICOM sur TLS pour tout échange avec le nœud", .box = {152, 81, 60, 21}},
    {.name = "cboTLSVerify", .kind = K::ComboBox, .parent = "TabSheet2", .text = "require",
     .hint = "Certificat du nœud : chaîne et nom vérifiés (require), chaîne seule (chain) ou "
             "rien (ignore)",
     .box = {70, 105, 80, 21}},
    {.name = "cboTLSProfile", .kind = K::ComboBox, .parent = "TabSheet2", .text = "bcp195-nd",
     .hint = "Profil TLS : versions et suites de chiffrement proposées",
     .box = {192, 105, 112, 21}},
    {.name = "EditTLSCA", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Certificats de confiance : fichier PEM ou dossier (vide : ceux du système)",
     .box = {60, 129, 244, 21}, .anchors = AnchorRight},
    {.name = "EditTLSCert", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Notre certificat, PEM (si le nœud en demande un)", .box = {60, 153, 110, 21}},
    {.name = "EditTLSKey", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Sa clé privée, PEM ; mot de passe dans LUMO4410_TLS_KEY_PASSWORD",
     .box = {198, 153, 106, 21}, .anchors = AnchorRight},
    {.name = "lblTLSVerify", .kind = K::Label, .parent = "TabSheet2", .caption = "Vérification",
     .box = {4, 105, 64, 21}},
    {.name = "lblTLSProfile", .kind = K::Label, .parent = "TabSheet2", .caption = "Profil",
     .box = {156, 105, 34, 21}},
    {.name = "lblTLSCA", .kind = K::Label, .parent = "TabSheet2", .caption = "CA",
     .box = {4, 129, 54, 21}},
    {.name = "lblTLSCert", .kind = K::Label, .parent = "TabSheet2", .caption = "Certificat",
     .box = {4, 153, 54, 21}},
    {.name = "lblTLSKey", .kind = K::Label, .parent = "TabSheet2", .caption = "Clé",
     .box = {174, 153, 22, 21}},
    {.name = "lblIP2", .kind = K::Label, .parent = "TabSheet2", .caption = "IP",
     .box = {4, 243, 14, 21}},
    {.name = "lblPort2", .kind = K::Label, .parent = "TabSheet2", .caption = "Port",
     .box = {116, 243, 26, 21}},
    {.name = "lblAETitle2", .kind = K::Label, .parent = "TabSheet2", .caption = "AE title",
     .box = {194, 243, 42, 21}},
    {.name = "lblCompareKind", .kind = K::Label, .parent = "TabSheet2", .caption = "Requête",
     .box = {4, 268, 48, 21}},
    {.name = "lblRapport", .kind = K::Label, .parent = "TabSheet2",
     .caption = "Rapport de l'échange", .box = {4, 298, 124, 21}},
    {.name = "ButtonCopierRapport", .kind = K::Button, .parent = "TabSheet2",
     .caption = "Copier le rapport", .hint = "Le rapport entier dans le presse-papiers",
     .box = {194, 296, 110, 25}},
    // DICOMweb: the query buttons, echo and probe go to the node's DICOMweb
    // service (QIDO-RS) rather than over DIMSE when the transport says so.
    {.name = "lblDicomWeb", .kind = K::Label, .parent = "TabSheet2", .caption = "DICOMweb",
     .box = {4, 177, 62, 21}},
    {.name = "cboTransport", .kind = K::ComboBox, .parent = "TabSheet2", .text = "DIMSE",
     .hint = "Transport des requêtes, de l'écho et de la sonde : DIMSE ou DICOMweb (QIDO-RS)",
     .box = {70, 177, 100, 21}},
    {.name = "lblHttpUser", .kind = K::Label, .parent = "TabSheet2", .caption = "Utilisateur",
     .box = {176, 177, 62, 21}},
    {.name = "EditHttpUser", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "Utilisateur HTTP Basic ; mot de passe dans LUMO4410_HTTP_PASSWORD (sans "
             "utilisateur : jeton dans LUMO4410_HTTP_TOKEN)",
     .box = {242, 177, 62, 21}},
    {.name = "lblDicomWebURL", .kind = K::Label, .parent = "TabSheet2", .caption = "URL",
     .box = {4, 201, 54, 21}},
    {.name = "EditDicomWebURL", .kind = K::Edit, .parent = "TabSheet2",
     .hint = "URL de base DICOMweb du nœud, par exemple http://10.0.0.5:8042/dicom-web",
     .box = {60, 201, 244, 21}, .anchors = AnchorRight},

    // The tab "Récupération": C-MOVE and C-GET of what a query found, the
    // UIDs taken from the input block's fields (a double click on a block of
    // the result list fills them) and the SOP Instance UID field here.
    {.name = "TabSheet3", .kind = K::TabSheet, .parent = "PageControl1",
     .caption = "Récupération"},
    {.name = "lblRetrieveLevel", .kind = K::Label, .parent = "TabSheet3", .caption = "Niveau",
     .box = {4, 6, 100, 21}},
    {.name = "cboRetrieveLevel", .kind = K::ComboBox, .parent = "TabSheet3", .text = "study",
     .hint = "Niveau de la récupération : patient (Dossier), study (StudyUID), series "
             "(+ SeriesUID) ou image (+ SOP Instance UID)",
     .box = {106, 4, 86, 21}},
    {.name = "cbVerify", .kind = K::CheckBox, .parent = "TabSheet3", .caption = "Vérifier",
     .hint = "Compte d'abord les images par un C-FIND, puis compare avec ce qui est arrivé",
     .box = {198, 4, 96, 21}},
    {.name = "lblMoveDest", .kind = K::Label, .parent = "TabSheet3",
     .caption = "Destination (AE)", .box = {4, 30, 100, 21}},
    {.name = "EditMoveDest", .kind = K::Edit, .parent = "TabSheet3",
     .hint = "AE title de destination du C-MOVE, déclaré sur le nœud (vide : l'AE title "
             "appelant)",
     .box = {106, 30, 188, 21}},
    {.name = "lblStorePort", .kind = K::Label, .parent = "TabSheet3",
     .caption = "Port de réception", .box = {4, 54, 100, 21}},
    {.name = "EditStorePort", .kind = K::Edit, .parent = "TabSheet3", .text = "11113",
     .hint = "Port où la console reçoit les images d'un C-MOVE", .box = {106, 54, 60, 21}},
    {.name = "lblStoreFolder", .kind = K::Label, .parent = "TabSheet3", .caption = "Dossier",
     .box = {4, 78, 100, 21}},
    {.name = "EditStoreFolder", .kind = K::Edit, .parent = "TabSheet3",
     .hint = "Dossier où garder les images reçues, nommées par SOP Instance UID (vide : "
             "vérifiées et comptées, non gardées)",
     .box = {106, 78, 188, 21}},
    {.name = "lblSOPInstanceUID", .kind = K::Label, .parent = "TabSheet3",
     .caption = "SOP Instance UID", .box = {4, 102, 100, 21}},
    {.name = "EditSOPInstanceUID", .kind = K::Edit, .parent = "TabSheet3",
     .hint = "SOP Instance UID pour le niveau image (plusieurs séparés par \\)",
     .box = {106, 102, 188, 21}},
    {.name = "ButtonCMove", .kind = K::Button, .parent = "TabSheet3", .caption = "C-MOVE",
     .box = {4, 130, 140, 25}},
    {.name = "ButtonCGet", .kind = K::Button, .parent = "TabSheet3", .caption = "C-GET",
     .box = {150, 130, 140, 25}},

    // Result list, filling the rest of the window.
    {.name = "Panel1", .kind = K::Panel, .parent = "FormTestWL"},
    {.name = "ListBoxResult", .kind = K::ListBox, .parent = "Panel1"},

    // Not drawn.
    {.name = "OpenDialogCFIND", .kind = K::OpenDialog, .parent = "FormTestWL", .visible = false},
    {.name = "DicomViewer1", .kind = K::Viewer, .parent = "FormTestWL", .visible = false},
};
// clang-format on

}  // namespace

std::span<const ControlDesign> FormControlDesigns() { return kDesigns; }

const ControlDesign* FindControlDesign(std::string_view name) {
    for (const ControlDesign& design : kDesigns) {
        if (name == design.name) return &design;
    }
    return nullptr;
}

}  // namespace lumo::app
