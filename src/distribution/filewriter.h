#pragma once
// Writes a whole buffer to a file in one go, creating it or replacing an
// existing one (O_TRUNC, never O_APPEND), and reports the failed step.
// Internal to the distribution writers. Thread-safe.
#include <QByteArray>
#include <QString>

#include "distribution/result.h"

namespace ravelin::distribution {

// `mode` is the permission for a newly created file (before the umask).
// A file left half-written by a failure is not removed (callers that must not
// leave one behind remove it themselves).
Result writeWholeFile(const QString& path, const QByteArray& data, unsigned mode = 0666);

}  // namespace ravelin::distribution
