#ifndef VESKAR_TESTS_RECORDS_RECORD_STATE_H_
#define VESKAR_TESTS_RECORDS_RECORD_STATE_H_

#include <veskar/records.h>

#include <string>

namespace veskar_test {

// Everything a host can observe of a record, whatever its class, as one
// string: the base accessors, then the accessors of the record's own class
// (byte pointers as addresses). Two records with equal descriptions are
// indistinguishable to a host.
std::string DescribeRecord(CQnPMCrtUsrData& record);

// Test texts longer than any small-string buffer, so that every copy owns
// heap storage and a missed release shows up under the leak checker.
std::string Long(const char* text);

}  // namespace veskar_test

#endif  // VESKAR_TESTS_RECORDS_RECORD_STATE_H_
