#include "bench/data/text_pieces.h"

#include <iterator>

namespace bv::bench {

namespace {

// 40 given names and 50 family names: 2,000 different pairs.
const char16_t* const kGiven[] = {
    u"Anna",   u"José",    u"Zoë",     u"François", u"Åsa",    u"Jean-Luc", u"Ümit",   u"Dorota",
    u"Mehmet", u"Olivia",  u"Lucas",   u"Søren",    u"Ελένη",  u"Νίκος",    u"Иван",   u"Ольга",
    u"Дмитрий", u"花子",   u"太郎",    u"美咲",     u"민준",   u"서연",     u"지우",   u"Nguyễn",
    u"Thảo",   u"Phương",  u"Seán",    u"Niamh",    u"Björn",  u"Małgorzata", u"Ines", u"Raúl",
    u"Chloé",  u"Hélène",  u"Jürgen",  u"Øystein",  u"Ζωή",    u"Пётр",     u"健",     u"하은"};

const char16_t* const kFamily[] = {
    u"Smith",    u"Núñez",    u"Müller",   u"Lefèvre",   u"Lindqvist", u"Wiśniewska", u"Yılmaz", u"Chen",
    u"Silva",    u"O'Neil",   u"van der Berg", u"de la Cruz", u"Papadopoulos", u"Παπαδόπουλος", u"Петров",
    u"Смирнова", u"Кузнецов", u"佐藤",     u"鈴木",      u"高橋",      u"田中",       u"김",      u"이",
    u"박",       u"최",       u"Trần",     u"Lê",        u"Phạm",      u"Hoàng",      u"Dvořák",  u"Novák",
    u"Kowalski", u"Nowak",    u"Fernández", u"García",   u"Østergaard", u"Jørgensen", u"Ó Briain", u"MacDonald",
    u"Schäfer",  u"Weiß",     u"Öztürk",   u"Şahin",     u"Ђорђевић",  u"Иванов",     u"王",      u"李",
    u"Brontë",   u"D'Angelo", u"Kovačević"};

const char16_t* const kCities[] = {
    u"Zürich",  u"Łódź",     u"東京",    u"서울",    u"Москва",   u"Αθήνα",   u"São Paulo", u"Reykjavík",
    u"Köln",    u"Kraków",   u"İzmir",   u"Göteborg", u"Sevilla", u"Lyon",    u"Hà Nội",    u"大阪",
    u"부산",    u"Київ",     u"Θεσσαλονίκη", u"Montréal", u"Malmö", u"Brno",  u"Porto",     u"Dublin",
    u"Leeds",   u"Vancouver", u"Zaragoza", u"Tromsø",  u"Plzeň",   u"Genève"};

// Words whose characters all fit in one byte (stored compressed) ...
const char16_t* const kNarrow[] = {
    u"order",  u"parcel", u"déjà",  u"vu",     u"crème", u"brûlée", u"\"quoted\"", u"back\\slash", u"a,b",
    u"x;y",    u"100%",   u"naïve", u"façade", u"Straße", u"smørbrød", u"¿qué?",   u"señor",   u"it's",
    u"deliver", u"before", u"noon", u"please", u"call",   u"ahead",  u"fragile",   u"gift",    u"wrap"};
// ... and words that need two bytes a character.
const char16_t* const kWide[] = {
    u"€5",    u"注文",   u"配達",  u"ありがとう", u"배송",  u"감사합니다", u"доставка", u"спасибо",
    u"παράδοση", u"ευχαριστώ", u"Łódź", u"čaj",  u"żółw",   u"日本語",   u"한국어",   u"Ελληνικά"};

}  // namespace

std::span<const char16_t* const> givenNames() { return kGiven; }
std::span<const char16_t* const> familyNames() { return kFamily; }
std::span<const char16_t* const> cities() { return kCities; }

std::u16string words(Dice& dice, size_t chars, bool wide) {
  std::u16string out;
  while (out.size() < chars) {
    if (!out.empty()) out.push_back(u' ');
    const bool pickWide = dice.chance(wide ? 2 : 1, wide ? 3 : 8);
    out += pickWide ? kWide[dice.below(std::size(kWide))] : kNarrow[dice.below(std::size(kNarrow))];
  }
  out.resize(chars);
  // A cut may leave a trailing space, which text keys would not see (the lists hold no
  // surrogate pairs, so no cut splits one).
  if (!out.empty() && out.back() == u' ') out.back() = u'.';
  return out;
}

std::u16string digits(uint64_t n) {
  std::u16string s;
  for (char c : std::to_string(n)) s.push_back(static_cast<char16_t>(c));
  return s;
}

}  // namespace bv::bench
