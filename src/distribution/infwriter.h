#pragma once
// The INF file for the Setup API that copies every file of a cabinet into an
// install directory below the boot drive's root (DIRID 30).
//
// Layout, line by line, every line (the last included) ending in CR LF, no
// byte-order mark, never wrapped; a separator line is one space:
//   ; Created with Korvane Ravelin v6.0        (fixed: the setup program's key check)
//   ; <the maker's web address>
//   " "  [version]  signature="$CHICAGO$"
//   " "  [DefaultInstall]  CopyFiles = copy.files
//   " "  [SourceDisksNames]  1="Run this from a short file name dir",<cab>.cab,0
//   " "  [DestinationDirs]  copy.files = 30,<install directory>
//   " "  [SourceDisksFiles]  <name>=1 ...
//   " "  [copy.files]  <name> ...
// Every text goes in exactly as given: no trimming, quoting or checks. Texts
// and paths are bytes (a window gives the bytes its text encodes to), so the
// command line's argv bytes reach the file and the file system unchanged.
//
// Threads: all functions are reentrant.
#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

#include "distribution/result.h"

namespace ravelin::distribution {

struct InfRequest {
    std::string cabinetName;            // base name of the cabinet, without extension
    std::string outputDirectory;        // directory that receives the INF file
    std::string installDirectory;       // directory below the boot drive's root
    std::vector<std::string> fileNames; // bare names, in the order they are listed
};

// The install directory the wizard starts with.
inline constexpr const char* kDefaultInstallDirectory = "myinstall\\directory";

// Help topic of the INF failure message.
inline constexpr int kInfFailureHelpTopic = 1;

// The whole INF text, 8-bit: the request's bytes as they are.
QByteArray composeInf(const InfRequest& request);

// output directory + "/" + cabinet name + ".inf", nothing normalised.
std::string infFilePath(const InfRequest& request);

// Composes the text and saves it to infFilePath(), written beside it and
// renamed over it when complete, creating the file or replacing an existing
// one. On failure the result names the step, an earlier file stays as it was
// and no partial file is left.
Result WriteInfFile(const InfRequest& request);

// The texts below show the request's bytes as text (QFile::decodeName).

// The outcome line the wizard shows after a successful write:
// "<cab>.inf can be found in your <dir> directory.  Task completed successfully"
QString infOutcomeLine(const InfRequest& request);

// The failure message (error icon, OK, help topic kInfFailureHelpTopic):
// "There was an error while trying to create <cab>.inf" (no directory).
QString infFailureMessage(const InfRequest& request);

} // namespace ravelin::distribution
