#pragma once
// Fixed texts of the INF files this system writes, shared by the writer and
// by the setup program that recognises a right pass phrase by the first line.
// Header only, so the setup program uses it without linking the writer.

namespace ravelin::distribution {

// The first line of every INF file written, whatever the inputs. The setup
// program accepts a pass phrase only when the decrypted INF starts with it.
inline constexpr const char* kInfFirstLine = "; Created with Korvane Ravelin v6.0";

// Each line of the INF ends with carriage return and line feed.
inline constexpr const char* kInfLineEnd = "\r\n";

} // namespace ravelin::distribution
