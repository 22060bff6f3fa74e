#include "platform/pdx/Generate.h"

#include "platform/pdx/Writer.h"

#include <array>

namespace orl::pdx {
namespace {

// splitmix64: a fixed, portable mix, so the table is the same everywhere.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

class Draw {
 public:
  Draw(std::uint64_t seed, std::uint64_t stream, std::uint64_t item) : state_(mix(mix(seed ^ stream) ^ item)) {}
  std::uint64_t next() { return state_ = mix(state_); }
  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }
  bool oneIn(std::uint32_t n) { return below(n) == 0; }

 private:
  std::uint64_t state_;
};

constexpr std::array<const char*, 24> Words = {
    "smith",   "o'brien", "mcdonald", "van",    "der",   "berg",   "anne",    "marie",
    "rené",    "josé",    "müller",   "straße", "lee",   "garcía", "o'neil",  "de",
    "la",      "cruz",    "élan",     "north",  "river", "stone",  "mac",     "kay"};

constexpr std::array<const char*, 8> Sentences = {
    "Called about the order. ", "left a message, no answer. ", "PAID IN FULL. ",
    "ships monday; check stock. ", "Prefers e-mail. ", "new address on file. ",
    "Discount agreed: 5%. ", "asked for o'brien's number. "};

// Mixed case, one byte at a time: ASCII letters only, so that a UTF-8
// sequence is never cut.
std::string mixCase(const std::string& word, Draw& draw) {
  std::string result = word;
  const std::uint32_t style = draw.below(4);
  for (std::size_t i = 0; i < result.size(); ++i) {
    char& c = result[i];
    if (c < 'a' || c > 'z') continue;
    const bool upper = style == 0 ? true : style == 1 ? i == 0 : style == 2 ? false : draw.oneIn(2);
    if (upper) c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

// Value `index` of the name field: two words and a code that makes it
// unlike every other value, whatever the letter case.
std::string nameValue(std::uint64_t seed, std::uint32_t index) {
  Draw draw(seed, 1, index);
  std::string code;
  std::uint32_t rest = index;
  do {
    code += static_cast<char>('a' + rest % 26);
    rest /= 26;
  } while (rest > 0);
  std::string name = mixCase(Words[draw.below(Words.size())], draw);
  name += ' ';
  name += mixCase(Words[draw.below(Words.size())], draw);
  name += ' ';
  name += mixCase(code, draw);
  return name;
}

std::string notesValue(Draw& draw) {
  const std::uint32_t sentences = draw.oneIn(6) ? 3 + draw.below(12) : 1;
  std::string notes;
  for (std::uint32_t i = 0; i < sentences; ++i) notes += Sentences[draw.below(Sentences.size())];
  return notes;
}

}  // namespace

std::vector<Field> generatedFields() {
  return {{"Id", FieldType::Autoincrement, 4},  {"Name", FieldType::Alpha, 40},
          {"Notes", FieldType::Memo, 40},        {"Quantity", FieldType::Long, 4},
          {"Amount", FieldType::Number, 8},      {"Day", FieldType::Date, 4},
          {"Active", FieldType::Logical, 1}};
}

std::vector<Value> generatedRow(const GenerateSettings& settings, std::uint32_t row) {
  const std::uint32_t distinct = settings.distinct == 0 ? 1 : settings.distinct;
  Draw draw(settings.seed, 2, row);
  // The first rows take each value once, so that all of them appear.
  const std::uint32_t nameIndex = row < distinct ? row : draw.below(distinct);
  std::vector<Value> values;
  values.emplace_back(std::int64_t{row} + 1);
  values.emplace_back(nameValue(settings.seed, nameIndex));
  if (draw.oneIn(4))
    values.emplace_back(Null{});
  else
    values.emplace_back(notesValue(draw));
  const auto blankOr = [&](Value value) { return draw.oneIn(10) ? Value{Null{}} : value; };
  values.push_back(blankOr(static_cast<std::int64_t>(draw.below(2'000'001)) - 1'000'000));
  values.push_back(blankOr(static_cast<double>(static_cast<std::int64_t>(draw.below(100'000'000)) - 50'000'000) / 100.0));
  values.push_back(blankOr(Date{1950 + static_cast<int>(draw.below(80)), 1 + static_cast<int>(draw.below(12)),
                                1 + static_cast<int>(draw.below(28))}));
  values.push_back(blankOr(draw.oneIn(2)));
  return values;
}

void generateTable(FileOps& files, const std::string& path, const GenerateSettings& settings) {
  WriterSettings writerSettings;
  writerSettings.fields = generatedFields();
  writerSettings.codePage = 1252;
  writerSettings.modifiedTime = settings.modifiedTime;
  TableWriter writer(files, path, writerSettings);
  for (std::uint32_t row = 0; row < settings.rows; ++row) writer.append(generatedRow(settings, row));
  writer.finish();
}

}  // namespace orl::pdx
