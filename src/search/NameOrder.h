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
// those numbers in one stable pass.
std::vector<std::uint32_t> OrderByName(const std::vector<QByteArrayView> &names, const QLocale &locale);

} // namespace kelvo
