// Splitting of request, proxy and relocation URLs, and the substring search it rests on.
#pragma once

#include <cstdint>
#include <string>

// Splits URL into its six parts; every output is written (empty when absent). Nothing is
// decoded or defaulted: the port stays text, "%" escapes and case are kept, the query and
// fragment stay in Path. An output may be the same object as URL.
void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);

// 1-based position of the Count-th occurrence of Substr in S, overlapping matches included.
// Count > 0 counts from the start; when fewer matches exist the result is the length of S
// plus the number missing, so any result beyond the length means "not found". Count < 0
// counts from the end and gives 0 when too few exist. Count 0 and an empty Substr find
// nothing.
std::int32_t Posn(const std::string& Substr, const std::string& S, std::int32_t Count);
