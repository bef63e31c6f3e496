#pragma once

#include "app/ConnectionSettings.h"

namespace lumo::app {

class TFormTestWL;

// The form's fields and bounds as the settings store keeps them (section
// "FormTestWL"): read when the form opens, written back when it closes.
// Free functions over the form; the form's thread.

// Fills the node, connection, TLS, DICOMweb and retrieval fields and the
// bounds from the store (the design's values where it holds none), and
// gives the listener its settings.
void LoadFormSettings(TFormTestWL& form);
// Writes them back as the fields show them (a connection field that does
// not hold a value within its bounds keeps the stored one).
void SaveFormSettings(TFormTestWL& form);

// The TLS fields of the Diagnostic tab, as the store and a request take them.
TlsSettings TlsSettingsOfFields(const TFormTestWL& form);

}  // namespace lumo::app
