// Calls recorded by the link-time fakes of platform functions, one line of
// text per call in the order made, and their comparison with expected tables.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

void RecordCall(const std::string& line);
void ClearRecordedCalls();
const std::vector<std::string>& RecordedCalls();

// The lines of `calls` that start with one of `prefixes`, in their order.
std::vector<std::string> CallsOf(const std::vector<std::string>& calls,
                                 std::initializer_list<const char*> prefixes);

// The recorded lines that start with one of `prefixes`, in their order.
std::vector<std::string> RecordedCallsOf(std::initializer_list<const char*> prefixes);

// Success when both lists are equal; otherwise a message listing both.
testing::AssertionResult CallsMatch(const std::vector<std::string>& actual,
                                    const std::vector<std::string>& expected);

// How the fakes write handles, pointers and strings: "0x1f", "null",
// "\"text\"".
std::string Hex(uintptr_t value);
std::string Hex(const void* pointer);
std::string Quoted(const char* text);
