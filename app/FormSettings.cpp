#include "app/FormSettings.h"

#include "app/FormControlDesign.h"
#include "app/TFormTestWL.h"
#include "dicom/listener/DicomViewer.h"

namespace lumo::app {

namespace {

void ShowTlsSettings(TFormTestWL& form, const TlsSettings& settings) {
    form.cbTLS.Checked = settings.enabled;
    form.EditTLSCert.Text = settings.certificateFile;
    form.EditTLSKey.Text = settings.privateKeyFile;
    form.EditTLSCA.Text = settings.trusted;
    form.cboTLSVerify.Text = settings.verify;
    form.cboTLSProfile.Text = settings.profile;
}

}  // namespace

TlsSettings TlsSettingsOfFields(const TFormTestWL& form) {
    return {form.cbTLS.Checked,  form.EditTLSCert.Text,  form.EditTLSKey.Text,
            form.EditTLSCA.Text, form.cboTLSVerify.Text, form.cboTLSProfile.Text};
}

void LoadFormSettings(TFormTestWL& form) {
    const auto design = [](const TControl& field) { return FindControlDesign(field.Name)->text; };
    ReadNodeSettings({form.EditIP.Text, form.EditPort.Text, form.EditAETitle.Text,
                      form.EditCallingAETitle.Text, form.cboModalite.Text},
                     {design(form.EditIP), design(form.EditPort), design(form.EditAETitle),
                      design(form.EditCallingAETitle), ""});

    form.QueryLimits.maxResponseBytes =
        ReadByteLimit("MaxResponseBytes", form.QueryLimits.maxResponseBytes);
    form.listenIdentifierBytes_ =
        ReadByteLimit("MaxIdentifierBytes", dicom::ViewerLimits().maxIdentifierBytes);
    form.RetrieveMaxInstanceBytes =
        ReadByteLimit("MaxInstanceBytes", form.RetrieveMaxInstanceBytes);
    const ConnectionValues values =
        ReadConnectionValues({form.QueryTimeouts, form.QueryMaxPdu, form.QueryLimits.maxResults});
    form.QueryTimeouts = values.timeouts;
    form.QueryMaxPdu = values.maxPdu;
    form.QueryLimits.maxResults = values.maxResults;
    form.ShowConnectionFields();
    ShowTlsSettings(form, ReadTlsSettings(TlsSettingsOfFields(form)));
    form.ListenLimits = ReadListenBounds(form.ListenLimits);
    form.ApplyListenSettings();
    const DicomWebSettings web = ReadDicomWebSettings(
        {form.EditDicomWebURL.Text, form.cboTransport.Text, form.EditHttpUser.Text});
    form.EditDicomWebURL.Text = web.url;
    form.cboTransport.Text = web.transport;
    form.EditHttpUser.Text = web.user;
    const RetrievalSettings retrieval = ReadRetrievalSettings(
        {form.EditMoveDest.Text, form.EditStorePort.Text, form.EditStoreFolder.Text});
    form.EditMoveDest.Text = retrieval.moveDestination;
    form.EditStorePort.Text = retrieval.storePort;
    form.EditStoreFolder.Text = retrieval.storeFolder;
}

void SaveFormSettings(TFormTestWL& form) {
    WriteNodeSettings({form.EditIP.Text, form.EditPort.Text, form.EditAETitle.Text,
                       form.EditCallingAETitle.Text, form.cboModalite.Text});
    ConnectionValues values{form.QueryTimeouts, form.QueryMaxPdu, form.QueryLimits.maxResults};
    form.connectionFields_.ApplyValid(values);
    WriteConnectionValues(values);
    WriteTlsSettings(TlsSettingsOfFields(form));
    WriteListenBounds(form.ListenLimits);
    WriteDicomWebSettings(
        {form.EditDicomWebURL.Text, form.cboTransport.Text, form.EditHttpUser.Text});
    WriteRetrievalSettings(
        {form.EditMoveDest.Text, form.EditStorePort.Text, form.EditStoreFolder.Text});
}

}  // namespace lumo::app
