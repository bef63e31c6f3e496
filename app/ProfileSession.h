#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/NodeProfile.h"
#include "app/ProfileRun.h"
#include "app/QueryOutcome.h"
#include "app/QueryRequest.h"
#include "dicom/data/DicomDataSet.h"

namespace lumo::app {

// What the units of a profile share: the keys they read and write, and the
// session that sends their queries within the profile's bounds.

// A key of an identifier: a tag at the top level, or in the worklist's
// scheduled-step item. A plain value.
struct ProfileKey {
    std::uint16_t group = 0;
    std::uint16_t element = 0;
    bool inStep = false;
    const char* name = "";  // its keyword, as findings name it
};

// The text of the key in a data set, trailing blanks dropped; empty when
// the key is absent or empty.
std::string KeyText(const dicom::DicomDataSet& dataSet, const ProfileKey& key);
bool KeyPresent(const dicom::DicomDataSet& dataSet, const ProfileKey& key);
// Sets the key (a step key in the first item of the step sequence, made
// when there is none), or takes it out.
void SetKey(const dicom::DicomDataSet& identifier, const ProfileKey& key, const std::string& value);
void RemoveKey(const dicom::DicomDataSet& identifier, const ProfileKey& key);
// The first scheduled-step item of a worklist data set, if it has one.
std::optional<dicom::DicomDataSet> StepItem(const dicom::DicomDataSet& dataSet);

// "C-FIND STUDY PatientName=\"DUP*\" StudyInstanceUID=\"1.2.3\"": the level
// and the keys that hold a value, the query as a finding names it ("QIDO-RS
// STUDY ..." over DICOMweb).
std::string QuerySummary(QueryLevel level, const dicom::DicomDataSet& identifier,
                         QueryTransport transport = QueryTransport::Dimse);
// "(0010,0010) PatientName = \"DUP*\"": every attribute, one a line, the
// step item's indented.
std::vector<std::string> IdentifierLines(const dicom::DicomDataSet& identifier);
// "1 réponse", "aucune réponse", "annulée après 50 réponses", "statut A900
// (« comment »)", or the failure's class and message; over DICOMweb "50
// réponses (limit atteint)", "aucune réponse, HTTP 400 Bad Request", and
// the truncation the search found.
std::string AnswerText(const QueryOutcome& outcome);
// Whether the node turned the query down with a failure status.
bool Refused(const QueryOutcome& outcome);

// The running state of one profile: the node and its transport, the bounds
// on queries and time, the stop, and the profile being built. Sends each
// query of the battery through the console's query path (RunQuery). Used
// on the profile's thread.
class ProfileSession {
  public:
    ProfileSession(const QueryRequest& base, const ProfileOptions& options, std::stop_token stop,
                   std::function<void(int)> progress);

    // The console's identifier of the level, with these keys typed.
    static dicom::DicomDataSet Identifier(QueryLevel level, const QueryKeys& keys = {});

    // Sends the identifier at `level`, taking at most `limit` responses
    // (a C-CANCEL after them). Nullopt, and nothing sent, when the bounds
    // or a stop leave no room for another query (Exhausted says which).
    std::optional<QueryOutcome> Ask(QueryLevel level, const dicom::DicomDataSet& identifier,
                                    std::uint32_t limit);
    // Why no more queries go out: the stop, the count or the time; empty
    // while they may.
    std::string Exhausted() const;
    // Keeps the last `count` queries of the bound for what comes after the
    // battery (the timed query's runs); 0 gives them back.
    void Reserve(std::size_t count) { reserved_ = count; }
    // Why a query of the battery was not sent, the first time one was not
    // (or the stop cut one short); empty while every query went out.
    const std::string& CutShortBy() const { return cutShortBy_; }
    // Why the node could not be profiled although it accepted the
    // association: every query sent failed (aborted, dropped, refused), with
    // the first one's answer; empty when one was answered or none went out.
    std::string EveryQueryFailed() const;
    std::stop_token StopToken() const { return stop_; }
    // The node's request at `level`, limits and keys of the base left aside.
    QueryRequest RequestAt(QueryLevel level) const;

    // Whether the queries go over DICOMweb (QIDO-RS) rather than DIMSE.
    bool OverHttp() const { return base_.transport == QueryTransport::DicomWeb; }

    // A finding proved by `identifier` sent at `level` and answered so
    // (over DICOMweb, the requests as sent join the identifier's lines).
    ProfileFinding Finding(ProfileSection section, std::string id, std::string title,
                           QueryLevel level, const dicom::DicomDataSet& identifier,
                           const std::optional<QueryOutcome>& outcome) const;
    void Add(ProfileFinding finding) { profile_.findings.push_back(std::move(finding)); }
    NodeProfile& Profile() { return profile_; }

  private:
    const QueryRequest base_;
    const ProfileOptions options_;
    const std::stop_token stop_;
    const std::function<void(int)> progress_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    NodeProfile profile_;
    std::string cutShortBy_;
    std::size_t reserved_ = 0;
    int answered_ = 0;          // queries the node answered without a failure
    std::string firstFailure_;  // how the first failed query was answered
};

}  // namespace lumo::app
