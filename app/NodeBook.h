#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/ConnectionSettings.h"

namespace lumo::app {

// The address book of nodes: named nodes kept with the settings, one
// section each ("Nodes\<name>" beside "FormTestWL", the same value names),
// listed, looked up, added, replaced, removed, and read from or written to
// CSV (name, ip, port, aet, calling-aet, tls, comment). A name compares
// without regard to ASCII case, as the store's keys do. Free functions and
// plain values; any thread (the store takes its own lock).

// One node as the book keeps it: the texts of the fields that call it.
struct BookNode {
    std::string name;
    std::string ip;
    std::string port;
    std::string aeTitle;
    std::string callingAETitle;
    TlsSettings tls;          // its verification and profile empty: the defaults
    std::string dicomWebUrl;  // its DICOMweb service (base URL), empty when none
    std::string comment;
};

// Why a node may not go into the book, in words (the first fault met): a
// name that is empty, too long or holds other than letters, digits, '.',
// '_' and '-'; an address that is empty or holds blanks; a port that is not
// a whole number from 1 to 65535; an AE title that is empty, longer than 16
// characters, all blanks or holds a backslash or a control character; a
// verification or profile not of the list. Nothing when it may.
std::optional<std::string> NodeFault(const BookNode& node);

// Every node of the book, in the order it holds them.
std::vector<BookNode> BookNodes();
// The node of that name, if the book has it.
std::optional<BookNode> FindBookNode(const std::string& name);
// Adds the node, or replaces the one of the same name; a node with a fault
// raises lumo::Exception(EConvertError, <the fault>) and changes nothing.
void SaveBookNode(const BookNode& node);
// False when the book had no node of that name.
bool RemoveBookNode(const std::string& name);

// "PACS1 : PACS@10.0.0.5:104 (appelant LUMO4410), TLS chain — comment":
// the name first, so that a script takes the first word.
std::string BookNodeLine(const BookNode& node);

// The nodes as CSV: a header row, then one row each; UTF-8 with a
// byte-order mark, RFC 4180 quoting, CR LF. The tls column reads 0 for
// plain DICOM, else the verification of the node's TLS.
std::string BookNodesCsv(const std::vector<BookNode>& nodes);

// What a CSV file gives: its nodes, or, when any line is bad, every bad line
// ("Ligne 3 : port '70000' refusé, un nombre entier de 1 à 65535 est
// attendu") and no node at all.
struct NodesImport {
    std::vector<BookNode> nodes;
    std::vector<std::string> faults;
};
// Reads the rows of `lines` (the header row optional, blank lines skipped).
// The tls column takes 0 or nothing (plain DICOM), 1 (TLS, verification
// require), or require, chain, ignore (TLS, that verification). A node of
// a name the book holds keeps that node's certificate, key, trusted
// certificates, profile and DICOMweb URL.
NodesImport ReadNodesCsv(const std::vector<std::string>& lines);
// Puts all the nodes into the book in one change of the store (each added,
// or replacing the one of its name): all of them or, on failure, none.
void ImportBookNodes(const std::vector<BookNode>& nodes);

}  // namespace lumo::app
