#pragma once
// A finished copy taking the name the user gave it, never over a file that is there.
#include <QString>

namespace krepiks {

// Why file cannot be made as a new file (it exists, or its folder does not), naming it as
// given; empty when it can.
QString NewFileProblem(const QString& file);

// Gives the finished partial file the name file by a link, which never replaces a file
// that appeared meanwhile, then removes partial. Throws EDatabaseError when file exists.
void LinkIntoPlace(const QString& partial, const QString& file);

} // namespace krepiks
