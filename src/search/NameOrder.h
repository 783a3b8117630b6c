#pragma once

#include <QByteArrayView>
#include <QLocale>

#include <cstdint>
#include <vector>

namespace kelvo {

// The order of the result list: positions 0..n-1 of `names` (GB18030 texts)
// sorted by the collation of `locale` (case-sensitive), empty names first,
// names that compare equal in the order given.
//
// Each distinct name is decoded and given a collation sort key once, however
// many rows carry it; the distinct names are ordered by their keys and
// numbered (equal keys share a number), and the rows are then placed by
// those numbers in one stable pass. Many names are shared between the
// calling thread and a helper thread (each takes the distinct names whose
// hash falls to it); `threads` 1 keeps everything on the calling thread, 0
// chooses by the number of names and the machine.
std::vector<std::uint32_t> OrderByName(const std::vector<QByteArrayView> &names, const QLocale &locale,
                                       int threads = 0);

// Below this many names the order is made on the calling thread alone.
inline constexpr size_t MinNamesForHelperThread = 50000;

} // namespace kelvo
