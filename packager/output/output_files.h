// What the outputs share: reading a capture's file whole, putting a finished file at the
// output path in one step, and the encodings of embedded files.
#pragma once

#include <string>

// The whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content);
// Writes content under a temporary name beside outputPath and then replaces outputPath
// with it in one step. False, and nothing left behind, when any part fails.
bool PutFileInPlace(const std::string& outputPath, const std::string& content);
// Base64 (RFC 4648, with padding, no line breaks).
std::string Base64(const std::string& bytes);
// The media type of a capture file from its first bytes, else from its name's extension;
// "application/octet-stream" when neither tells.
std::string MediaTypeOf(const std::string& name, const std::string& bytes);
// A data: address holding bytes of that media type, base64-encoded.
std::string DataAddress(const std::string& mediaType, const std::string& bytes);
