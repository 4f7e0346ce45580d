// Reads a ring log back in time order, for people.
#pragma once

#include <string>
#include <vector>

// The records of a ring log's bytes, oldest first: each the 80 content bytes
// of a non-blank slot without its trailing spaces. Returns false, with a
// one-line reason, when the bytes are not a ring log.
bool ReadRingLog(const std::string& bytes, std::vector<std::string>* records, std::string* error);
