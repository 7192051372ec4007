#pragma once

#include <QString>

class HttpSession;

// Rules of the version check: what the reply of the vendor's version file means for
// the running version. Widget-free; the start-up window shows the outcome.
namespace VersionReply {

// The version file on the vendor's server.
inline constexpr char kPath[] = "/vetra/file_vers.txt";

enum class Verdict {
    NoReply,      // the request failed or the body is empty: nothing is said
    ReceiveError, // longer than 10 characters once trimmed: an error page, not a version
    UpToDate,     // the running version is the same or newer
    Ask,          // a newer version, or a reply that is not a version: ask whether to download
};

// The reply is trimmed of white space (spaces, tabs, line ends) for the judgement only.
// Versions compare as major and minor whole numbers, so 3.0 is newer than 2.26 and
// 7.10 newer than 7.9. A reply that is not "whole.whole" leads to the question.
Verdict judge(const QString& running, const QString& reply);

// The question, with the reply exactly as received.
QString question(const QString& running, const QString& reply);

// Fetches the version file and returns its body as text; empty when the request fails
// or runs past the session's version time limit.
QString fetch(HttpSession& session);

} // namespace VersionReply
