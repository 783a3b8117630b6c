#pragma once

#include <QtGlobal>

// Bounds on what an import reads, so that no file can exhaust memory or run
// for ever. Each bound is far above what real contact files hold.
namespace kelvo::exchange {

// Largest file an import reads (vCard or CSV).
inline constexpr qint64 MaxImportFileBytes = qint64(512) << 20;
// Longest content line of a vCard after unfolding (values that are skipped,
// such as base64 photos, do not count), and longest CSV record.
inline constexpr qsizetype MaxLineBytes = qsizetype(1) << 20;
// Longest property name with its parameters (the part before the colon).
inline constexpr qsizetype MaxHeaderBytes = qsizetype(64) << 10;
// Most cells a CSV record may have.
inline constexpr int MaxCsvColumns = 4096;
// Most values one card keeps for a single field or for the extra values;
// anything beyond can never fit into a 255-byte field anyway.
inline constexpr int MaxValuesPerCard = 512;
// Most report lines kept for one card, and for one import.
inline constexpr int MaxMessagesPerCard = 32;
inline constexpr int MaxMessagesPerImport = 10000;

} // namespace kelvo::exchange
