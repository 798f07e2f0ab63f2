#pragma once
// What one build must send after NewDocument, call by call, for the worked-example bolt
// (d1 12, d0 10, d2 8, L 60, L2 30, L3 6, b 50, c 45, K 7.5, e 20), written from the table
// of the build steps independently of the program's own script.
#include "model/bolt.h"
#include "recording_cad.h"

#include <map>
#include <string>
#include <vector>

namespace krepiks::test {

struct ExpectedArg {
    std::string type; // int, dbl, cur, bool, str, &dbl, &disp
    double number = 0;
    std::string text;
    bool null = false;
};

struct ExpectedCall {
    std::string member;
    std::vector<ExpectedArg> args;
    bool rotation = false; // RotateAboutCenter of a series: checked by kind, not here
};

TBolt ExampleBolt();
std::vector<ExpectedCall> ExpectedScript();
std::map<std::string, int> ExpectedMemberCounts();

// "int 0", "dbl 0.0075", "cur -20", "bool true", "str Эскиз1", "str null", "&dbl 0.006",
// "&disp null", "disp 3", "empty".
std::string Describe(const automation::Variant& value);
// Empty when the call matches, else what differs.
std::string Mismatch(const RecordedCall& call, const ExpectedCall& expected);

// The rotation kind (Y1, Y2, X1, X2, XY, X3) of a RotateAboutCenter call, "?" if none.
std::string RotationKind(const RecordedCall& call);
// Runs of equal kinds written as kind and count: "Y1x5 Y2 Y1x6".
std::string Runs(const std::vector<std::string>& kinds);

} // namespace krepiks::test
