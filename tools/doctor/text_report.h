#pragma once

#include <string>

#include "diagnosis.h"

// The diagnosis as plain lines for a person: one line per step, "\n" ended,
// UTF-8.
std::string TextReport(const Diagnosis& diagnosis);
