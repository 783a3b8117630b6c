#pragma once

// Synthetic business cards with their true fields: Chinese, English and
// bilingual texts, several layouts and Debian's CJK fonts, horizontal and
// vertical, as clean renderings, scans and photos.

#include <QImage>
#include <QString>

#include <array>
#include <random>

namespace kelvo::bench {

// Photo: a harsh one (small, blurred, noisy, strongly uneven light, JPEG of
// quality 60 to 85); Phone: what a 12-megapixel phone photo saved at 1600
// pixels gives (mild blur and noise, JPEG of quality 80 to 90).
enum class Condition { Clean, Scan, Photo, Phone };
enum class Language { Chinese, English, Bilingual };

struct SyntheticCard
{
    std::array<QString, 13> fields; // the true fields, index 0 is field 1
    Language language = Language::Chinese;
    bool vertical = false;
    QImage picture; // the card itself, before any degradation
};

// Card number `index` of the set seeded by `seed`: the same numbers give the
// same card.
SyntheticCard makeCard(quint32 seed, int index);
// The card as a scanner (border, up to 4 degrees of rotation, light noise)
// or a phone (dark surroundings, uneven light, smaller, blurred, noisy)
// gives it; a photo is meant to be saved as JPEG.
QImage degrade(const QImage &card, Condition condition, std::mt19937 &random);

const char *conditionName(Condition condition);
const char *languageName(Language language);

} // namespace kelvo::bench
