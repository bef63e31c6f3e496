#include "app/NodeChooser.h"

#include "app/FormControlDesign.h"
#include "app/TFormTestWL.h"
#include "support/Application.h"
#include "support/Exception.h"
#include "support/Global_Utils.h"

namespace lumo::app {

BookNode NodeOfFields(const TFormTestWL& form, const std::string& name) {
    BookNode node;
    if (std::optional<BookNode> held = FindBookNode(name)) node = std::move(*held);
    node.name = name;
    node.ip = form.EditIP.Text;
    node.port = form.EditPort.Text;
    node.aeTitle = form.EditAETitle.Text;
    node.callingAETitle = form.EditCallingAETitle.Text;
    if (!form.EditDicomWebURL.Text.empty()) node.dicomWebUrl = form.EditDicomWebURL.Text;
    node.tls = {form.cbTLS.Checked,  form.EditTLSCert.Text,  form.EditTLSKey.Text,
                form.EditTLSCA.Text, form.cboTLSVerify.Text, form.cboTLSProfile.Text};
    return node;
}

void ShowNode(TFormTestWL& form, const BookNode& node) {
    const auto orDesign = [](const std::string& value, const TControl& field) {
        return value.empty() ? std::string(FindControlDesign(field.Name)->text) : value;
    };
    form.EditIP.Text = node.ip;
    form.EditPort.Text = node.port;
    form.EditAETitle.Text = node.aeTitle;
    form.EditCallingAETitle.Text = node.callingAETitle;
    form.cbTLS.Checked = node.tls.enabled;
    form.EditTLSCert.Text = node.tls.certificateFile;
    form.EditTLSKey.Text = node.tls.privateKeyFile;
    form.EditTLSCA.Text = node.tls.trusted;
    form.cboTLSVerify.Text = orDesign(node.tls.verify, form.cboTLSVerify);
    form.cboTLSProfile.Text = orDesign(node.tls.profile, form.cboTLSProfile);
    // The transport stays the operator's choice; the node's service is ready.
    if (!node.dicomWebUrl.empty()) form.EditDicomWebURL.Text = node.dicomWebUrl;
}

void ListBookNodes(TFormTestWL& form) {
    form.cboNoeud.Items.clear();
    for (const BookNode& node : BookNodes()) form.cboNoeud.Items.push_back(node.name);
}

void ChooseBookNode(TFormTestWL& form) {
    if (const std::optional<BookNode> node = FindBookNode(TrimBlanks(form.cboNoeud.Text)))
        ShowNode(form, *node);
}

void SaveFieldsAsNode(TFormTestWL& form) {
    const std::string name = TrimBlanks(form.cboNoeud.Text);
    FormHost& host = form.Host();
    if (name.empty()) {
        host.ShowMessage(ApplicationTitle(),
                         "Tapez dans la liste « Nœud » le nom du nœud à enregistrer",
                         MessageKind::Error);
        return;
    }
    try {
        SaveBookNode(NodeOfFields(form, name));
    } catch (const Exception& e) {
        host.ShowMessage(ApplicationTitle(), "Nœud non enregistré : " + e.Message(),
                         MessageKind::Error);
        return;
    }
    form.cboNoeud.Text = name;
    ListBookNodes(form);
}

}  // namespace lumo::app
