#pragma once

#include <string>

#include "diagnosis.h"

// The diagnosis as one JSON object for scripts: the same facts as the text
// report, under fixed member names, UTF-8, "\n" ended.
std::string JsonReport(const Diagnosis& diagnosis);
