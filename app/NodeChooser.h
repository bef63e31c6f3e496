#pragma once

#include "app/NodeBook.h"

namespace lumo::app {

class TFormTestWL;

// The address book on the form: the node chooser above the connection
// fields ("Nœud"), which fills them, and "Enregistrer le nœud", which keeps
// them under the name typed in the chooser. The command line's --node fills
// the same fields. Free functions over the form; the form's thread.

// The node the connection fields call (address, port, both AE titles, TLS),
// named `name`; its DICOMweb URL and comment those the book holds for it.
BookNode NodeOfFields(const TFormTestWL& form, const std::string& name);
// The node into the connection fields; a verification or profile left
// empty shows the default.
void ShowNode(TFormTestWL& form, const BookNode& node);

// The chooser's list: the book's names.
void ListBookNodes(TFormTestWL& form);
// The chooser's choice: its node into the fields (a name the book does not
// hold changes nothing).
void ChooseBookNode(TFormTestWL& form);
// The fields into the book under the chooser's name; a missing name or a
// field the book refuses is said in a message box, and nothing is kept.
void SaveFieldsAsNode(TFormTestWL& form);

}  // namespace lumo::app
