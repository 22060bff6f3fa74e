#include "platform/pdx/TableUpdate.h"

#include "platform/pdx/Blobs.h"
#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/FieldCodec.h"
#include "platform/pdx/Header.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/IndexCheck.h"
#include "platform/pdx/Indexes.h"
#include "platform/pdx/ValueText.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace orl::pdx {

using namespace detail;

namespace {

constexpr std::size_t CopyChunk = 1 << 20;
constexpr std::uint64_t ProgressEvery = 256;
constexpr std::size_t SingleBlobHeaderSize = 9;
constexpr std::uint64_t MostBlobUnits = 0xFFFF;
constexpr std::uint64_t MostBlobFileSize = 0xFFFFFF00u;  // offsets are 32-bit, the low byte an entry

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string extensionOf(const std::string& name) {
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : upperAscii(name.substr(dot + 1));
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The code points of UTF-8 text, each as its own UTF-8 bytes; nothing when
// the text is not UTF-8.
std::optional<std::vector<std::string>> characters(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return std::nullopt;
    out.push_back(text.substr(at, length));
    at += length;
  }
  return out;
}

// Copies a whole file to a new one, which it returns open.
std::unique_ptr<OutputFile> copyFile(FileOps& files, const ByteSource& from, const std::string& to) {
  auto out = files.createExclusive(to);
  std::vector<std::uint8_t> chunk(CopyChunk);
  for (std::uint64_t at = 0; at < from.size(); at += chunk.size()) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), from.size() - at));
    from.read(at, std::span(chunk.data(), size));
    out->write(at, chunk.data(), size);
  }
  return out;
}

std::vector<std::size_t> fieldOffsets(const TableHeader& header) {
  std::vector<std::size_t> offsets;
  std::size_t at = 0;
  for (const Field& field : header.fields) {
    offsets.push_back(at);
    at += static_cast<std::size_t>(storedWidth(field));
  }
  return offsets;
}

std::string bytesOf(const ByteSource& source, std::uint64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  source.read(0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
  return bytes;
}

}  // namespace

std::optional<std::string> keepUnholdableLetters(const std::string& before, const std::string& after,
                                                 const CodePage& codePage) {
  const auto was = characters(before);
  const auto is = characters(after);
  if (!was || !is || was->size() != is->size()) return std::nullopt;
  std::string kept;
  for (std::size_t i = 0; i < is->size(); ++i) {
    if (codePage.encode((*is)[i]))
      kept += (*is)[i];
    else if (codePage.encode((*was)[i]))
      kept += (*was)[i];
    else
      return std::nullopt;
  }
  return kept;
}

FieldIndexes indexesOfField(FileOps& files, const std::string& tablePath, std::size_t field) {
  const TableHeader header = Table::inspect(tablePath);
  FieldIndexes found;
  found.key = header.keyed() && field < static_cast<std::size_t>(header.keyFieldCount);
  const std::string folder = folderOf(tablePath);
  const std::string name = header.fields.at(field).name;
  const std::vector<std::string> family = familyOf(files, folder, nameOf(tablePath));
  // A secondary index is a pair: .Xnn (or .XGn) orders, .Ynn (or .YGn) finds.
  const auto addPair = [&](const std::string& indexFile) {
    const std::string suffix = extensionOf(indexFile).substr(1);
    for (const std::string& member : family)
      if (extensionOf(member) == "X" + suffix || extensionOf(member) == "Y" + suffix) found.files.push_back(member);
  };
  for (const std::string& member : family) {
    const std::string extension = extensionOf(member);
    if (extension.size() != 3 || extension[0] != 'X') continue;
    if (extension[1] == 'G') {
      const auto source = openFileSource(joinPath(folder, member));
      const TableHeader index = readHeader(*source, HeaderOf::AnyFile);
      for (const Field& covered : index.fields)
        if (sameNameButCase(covered.name, name)) {
          addPair(member);
          break;
        }
    } else if (isHexDigit(extension[1]) && isHexDigit(extension[2]) &&
               std::stoul(extension.substr(1), nullptr, 16) == field + 1) {
      addPair(member);
    }
  }
  std::sort(found.files.begin(), found.files.end());
  found.files.erase(std::unique(found.files.begin(), found.files.end()), found.files.end());
  return found;
}

// The state of one write: the old table's files open for reading, the
// staged files open for writing, and the data block being changed.
class TableUpdate::Writing {
 public:
  explicit Writing(TableUpdate& update)
      : update_(update), header_(update.header_), offsets_(fieldOffsets(header_)),
        codePage_(header_.textCodePage()), oldTable_(openFileSource(update.tablePath_)) {
    staged_ = copyFile(update_.files_, *oldTable_, update_.stagedTable_);
  }

  void apply(std::size_t field, const Value& value, const Value& before, const Cursor& cursor) {
    const Field& definition = header_.fields[field];
    const std::uint8_t* old = cursor.recordBytes().data() + offsets_[field];
    const auto width = static_cast<std::size_t>(storedWidth(definition));
    std::vector<std::uint8_t> bytes(old, old + width);
    if (definition.type == FieldType::Memo) {
      changeMemo(field, value, before, bytes);
    } else if (isBlobType(definition.type)) {
      fail(field, value, "a value of this type is not changed in place");
    } else if (definition.type == FieldType::Alpha) {
      const std::string text = encodeText(field, value, before);
      if (text.size() > width)
        fail(field, value, "it is longer than the field's " + std::to_string(definition.size) + " bytes");
      if (text.find('\0') != std::string::npos) fail(field, value, "an alpha field cannot hold a NUL character");
      // Bytes past the old value's end are kept: only the value's own change.
      const auto oldEnd = static_cast<std::size_t>(std::find(old, old + width, std::uint8_t{0}) - old);
      std::copy(text.begin(), text.end(), bytes.begin());
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(text.size()),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::max(oldEnd, text.size())), 0);
    } else {
      std::fill(bytes.begin(), bytes.end(), 0);
      if (const std::string why = encodeInRecord(definition, value, codePage_, bytes.data()); !why.empty())
        fail(field, value, why);
    }
    if (std::equal(bytes.begin(), bytes.end(), old)) return;
    update_.changed_[field] = true;
    patch(cursor.recordOffset() + offsets_[field], bytes);
  }

  void finish() {
    writeBlockOut();
    staged_->flush();
    staged_->close();
    if (blobs_) {
      blobs_->flush();
      blobs_->close();
    }
  }

 private:
  [[noreturn]] void fail(std::size_t field, const Value& value, const std::string& why) const {
    throw Error("Field \"" + header_.fields[field].name + "\" of \"" + update_.tablePath_ + "\": the value " +
                describe(value) + " cannot be written into the table: " + why + "; the table is left as it was");
  }

  // The value's text in the table's code page; a letter the code page
  // cannot hold in its new case stays as the old value had it.
  std::string encodeText(std::size_t field, const Value& value, const Value& before) const {
    if (std::holds_alternative<Null>(value)) return {};
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) fail(field, value, "it is not text");
    if (auto bytes = codePage_.encode(*text)) return std::move(*bytes);
    if (const auto* old = std::get_if<std::string>(&before))
      if (const auto kept = keepUnholdableLetters(*old, *text, codePage_))
        if (auto bytes = codePage_.encode(*kept)) return std::move(*bytes);
    fail(field, value, "it holds a character code page " + std::to_string(codePage_.number()) + " cannot hold");
  }

  void changeMemo(std::size_t field, const Value& value, const Value& before, std::vector<std::uint8_t>& bytes) {
    const std::string text = encodeText(field, value, before);
    const std::size_t leader = bytes.size() - BlobPointerSize;
    std::uint8_t* tail = bytes.data() + leader;
    const std::uint32_t pointer = little32(tail);
    const std::uint32_t length = little32(tail + 4);
    const std::uint32_t newLength = static_cast<std::uint32_t>(text.size());
    if (text.size() > MostBlobUnits * BlobBlockSize - SingleBlobHeaderSize)
      fail(field, value, "a memo file holds values up to 256 MB");

    // The leading copy in the record, past which the old one is cleared.
    const std::size_t oldLead = std::min<std::size_t>(leader, length);
    std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(oldLead), 0);
    std::copy_n(text.begin(), std::min(leader, text.size()), bytes.begin());

    if (text.empty() || (text.size() <= leader && pointer == 0)) {
      putLe32(tail, 0);
      putLe32(tail + 4, newLength);
      if (text.empty()) putLe16(tail + 8, 0);
      return;
    }
    if (pointer != 0 && newLength == length) {
      // The same length: the value is overwritten where it is.
      ensureBlobs();
      const std::uint64_t at = locateBlob(*oldBlobs_, pointer, length);
      blobs_->write(at, text.data(), text.size());
      return;
    }
    // Otherwise it gets a block of its own at the end of the memo file; the
    // old one stays, unused. Records that shared a value share its new one.
    ensureBlobs();
    const auto shared = moved_.find(pointer);
    std::uint32_t newPointer = 0;
    if (pointer != 0 && shared != moved_.end() && shared->second.first == text) {
      newPointer = shared->second.second;
    } else {
      const std::uint64_t units = (SingleBlobHeaderSize + text.size() + BlobBlockSize - 1) / BlobBlockSize;
      if (blobsEnd_ + units * BlobBlockSize > MostBlobFileSize)
        fail(field, value, "the memo file \"" + update_.stagedBlobs_ + "\" is full");
      std::vector<std::uint8_t> block(static_cast<std::size_t>(units * BlobBlockSize), 0);
      block[0] = 0x02;
      putLe16(&block[1], static_cast<std::uint32_t>(units));
      putLe32(&block[3], newLength);
      putLe16(&block[7], std::max<std::uint32_t>(little16(tail + 8), 1));
      std::copy(text.begin(), text.end(), block.begin() + SingleBlobHeaderSize);
      blobs_->write(blobsEnd_, block.data(), block.size());
      newPointer = static_cast<std::uint32_t>(blobsEnd_) | 0xFF;
      blobsEnd_ += block.size();
      if (pointer != 0) moved_[pointer] = {text, newPointer};
    }
    putLe32(tail, newPointer);
    putLe32(tail + 4, newLength);
    if (little16(tail + 8) == 0) putLe16(tail + 8, 1);
  }

  void ensureBlobs() {
    if (blobs_) return;
    if (!update_.blobName_) throw Error(update_.tablePath_ + ": its memo file is missing");
    oldBlobs_ = openFileSource(joinPath(update_.folder_, *update_.blobName_));
    update_.stagedBlobs_ = update_.replacement_->stagedPath(*update_.blobName_);
    blobs_ = copyFile(update_.files_, *oldBlobs_, update_.stagedBlobs_);
    // Blocks are whole 4 KB units; a file cut short still gets new ones on a unit.
    blobsEnd_ = (oldBlobs_->size() + BlobBlockSize - 1) / BlobBlockSize * BlobBlockSize;
  }

  // Changes bytes of the staged table: the data block they lie in is
  // changed in memory and written out once its records are done.
  void patch(std::uint64_t at, const std::vector<std::uint8_t>& bytes) {
    const auto headerSize = static_cast<std::uint64_t>(header_.headerSize);
    const auto blockSize = static_cast<std::uint64_t>(header_.blockSize);
    const std::uint64_t blockAt = headerSize + (at - headerSize) / blockSize * blockSize;
    if (block_.empty() || blockAt != blockAt_) {
      writeBlockOut();
      // A file may end inside its last block, after its last record: it stays as long as it was.
      block_.resize(static_cast<std::size_t>(std::min(blockSize, oldTable_->size() - blockAt)));
      oldTable_->read(blockAt, block_);
      blockAt_ = blockAt;
    }
    std::copy(bytes.begin(), bytes.end(), block_.begin() + static_cast<std::ptrdiff_t>(at - blockAt));
    blockDirty_ = true;
  }

  void writeBlockOut() {
    if (!blockDirty_) return;
    staged_->write(blockAt_, block_.data(), block_.size());
    blockDirty_ = false;
  }

  TableUpdate& update_;
  const TableHeader& header_;
  std::vector<std::size_t> offsets_;
  CodePage codePage_;
  std::shared_ptr<const ByteSource> oldTable_;
  std::unique_ptr<OutputFile> staged_;
  std::vector<std::uint8_t> block_;
  std::uint64_t blockAt_ = 0;
  bool blockDirty_ = false;
  std::shared_ptr<const ByteSource> oldBlobs_;
  std::unique_ptr<OutputFile> blobs_;
  std::uint64_t blobsEnd_ = 0;
  std::map<std::uint32_t, std::pair<std::string, std::uint32_t>> moved_;
};

TableUpdate::TableUpdate(FileOps& files, const std::string& tablePath, Indexes indexes)
    : files_(files), tablePath_(tablePath), folder_(folderOf(tablePath)), tableName_(nameOf(tablePath)),
      indexes_(indexes) {
  replacement_ = std::make_unique<FamilyReplacement>(files_, folder_, tableName_);
  header_ = Table::inspect(tablePath_);
  if (header_.encrypted) throw Error(tablePath_ + ": the table is password protected");
  for (const std::string& member : familyOf(files_, folder_, tableName_))
    if (extensionOf(member) == "MB") blobName_ = member;
  changed_.assign(header_.fields.size(), false);
  stagedTable_ = replacement_->stagedPath(tableName_);
}

TableUpdate::~TableUpdate() = default;

void TableUpdate::write(const ChangeSource& changes, const Progress& progress,
                        const std::optional<std::vector<std::size_t>>& changing) {
  if (written_) throw Error("The table \"" + tablePath_ + "\" has been written already");
  written_ = true;
  std::vector<std::size_t> fields;
  if (changing) {
    fields = *changing;
    std::sort(fields.begin(), fields.end());
    fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    if (!fields.empty() && fields.back() >= header_.fields.size())
      throw Error("The table \"" + tablePath_ + "\" has no field " + std::to_string(fields.back() + 1));
  } else {
    for (std::size_t f = 0; f < header_.fields.size(); ++f) fields.push_back(f);
  }
  try {
    writeStaged(changes, progress, fields);
  } catch (...) {
    // Nothing of a write that failed stays in the folder.
    try {
      if (!unsortedTable_.empty()) files_.remove(unsortedTable_);
    } catch (const Error&) {
      // Recovering the folder removes it, as a staged file of its own.
    }
    try {
      replacement_->abandon();
    } catch (const Error&) {
      // The next recovery removes what is left.
    }
    throw;
  }
}

void TableUpdate::writeStaged(const ChangeSource& changes, const Progress& progress,
                              const std::vector<std::size_t>& changing) {
  const Table old = Table::open(tablePath_);
  Writing writing(*this);
  Cursor cursor = old.cursor();
  const std::size_t fieldCount = header_.fields.size();
  std::vector<Value> before(fieldCount);
  RecordChanges record;
  std::uint64_t done = 0;
  while (cursor.nextStored()) {
    for (const std::size_t f : changing) before[f] = cursor.value(f);
    record.assign(fieldCount, std::nullopt);
    if (!changes(before, record))
      throw Error("The new values of \"" + tablePath_ + "\" end at record " + std::to_string(done + 1) + " of " +
                  std::to_string(header_.recordCount));
    std::size_t next = 0;
    for (std::size_t f = 0; f < record.size() && f < fieldCount; ++f) {
      const bool mayChange = next < changing.size() && changing[next] == f;
      if (mayChange) ++next;
      if (!record[f]) continue;
      if (!mayChange)
        throw Error("Internal error: a new value was given for field \"" + header_.fields[f].name + "\" of \"" +
                    tablePath_ + "\", which was not to change");
      writing.apply(f, *record[f], before[f], cursor);
    }
    if (++done % ProgressEvery == 0 && progress) progress(done);
  }
  if (progress) progress(done);
  before.clear();
  if (changes(before, record))
    throw Error("There are more new values for \"" + tablePath_ + "\" than its " + std::to_string(done) +
                " records");
  writing.finish();
  followIndexes();
}

// The key and the indexes follow the changed fields, or the change is refused.
void TableUpdate::followIndexes() {
  std::vector<int> changedNumbers;
  bool keyChanged = false;
  for (std::size_t f = 0; f < changed_.size(); ++f) {
    if (!changed_[f]) continue;
    changedNumbers.push_back(static_cast<int>(f) + 1);
    keyChanged = keyChanged || (header_.keyed() && f < static_cast<std::size_t>(header_.keyFieldCount));
  }
  if (changedNumbers.empty()) return;
  const IndexDescription indexes = describeIndexes(tablePath_);
  const std::vector<std::string> involved = indexesInvolving(indexes, changedNumbers);
  if (!keyChanged && involved.empty()) return;
  const std::string fieldName = header_.fields[static_cast<std::size_t>(changedNumbers.front() - 1)].name;
  if (indexes_ == Indexes::Keep) {
    if (keyChanged)
      throw Error("The field \"" + fieldName + "\" is part of the key of \"" + tablePath_ +
                  "\": its records would have to be put in a new order, which is not done here");
    throw Error("The field \"" + fieldName + "\" of \"" + tablePath_ + "\" is covered by the index " +
                involved.front() + ", which would no longer match its values");
  }

  std::vector<std::string> rebuilt;
  for (const std::string& name : involved) {
    const bool primary = sameNameButCase(name, indexes.primaryIndexFile);
    bool rebuildable = true;
    try {
      checkRebuildable(tablePath_, {name});
    } catch (const Error& why) {
      if (primary || indexes_ != Indexes::DropThoseOfChanged)
        throw Error("The field \"" + fieldName + "\" of \"" + tablePath_ + "\" cannot be changed: " + why.what());
      rebuildable = false;
    }
    if (rebuildable) rebuilt.push_back(name);
    std::vector<std::string>& replaced = rebuildable ? rebuiltIndexes_ : droppedIndexes_;
    replaced.push_back(name);
    for (const SecondaryIndex& index : indexes.secondary)
      if (index.indexFile == name && !index.treeFile.empty()) replaced.push_back(index.treeFile);
  }
  if (keyChanged) {
    refuseDuplicateKeys();
    putInKeyOrder();
  }
  if (!rebuilt.empty())
    rebuildIndexes(
        files_, stagedTable_, tablePath_, [&](const std::string& name) { return replacement_->stagedPath(name); },
        rebuilt);
  std::sort(droppedIndexes_.begin(), droppedIndexes_.end());
}

// Two records whose new values give them one key are refused before the
// records are sorted, naming the values they had.
void TableUpdate::refuseDuplicateKeys() const {
  const auto keyFields = static_cast<std::size_t>(header_.keyFieldCount);
  std::size_t keyWidth = 0;
  for (std::size_t f = 0; f < keyFields; ++f) keyWidth += static_cast<std::size_t>(storedWidth(header_.fields[f]));
  const auto keyText = [&](const std::vector<Value>& row) {
    std::string text;
    for (std::size_t f = 0; f < keyFields; ++f) text += (f == 0 ? "\"" : ", \"") + valueText(row[f]) + "\"";
    return text;
  };
  const Table old = Table::open(tablePath_);
  const Table staged = Table::open(openFileSource(stagedTable_), stagedBlobSource());
  Cursor oldRows = old.cursor();
  Cursor newRows = staged.cursor();
  std::unordered_map<std::string, std::string> oldKeyOf;  // the new key's bytes, to the old key's text
  std::vector<Value> before, after;
  while (oldRows.next(before) && newRows.next(after)) {
    const auto* bytes = reinterpret_cast<const char*>(newRows.recordBytes().data());
    const std::string oldKey = keyText(before);
    const auto [found, fresh] = oldKeyOf.emplace(std::string(bytes, keyWidth), oldKey);
    if (fresh) continue;
    std::string names;
    for (std::size_t f = 0; f < keyFields; ++f)
      names += (f == 0 ? "\"" : ", \"") + header_.fields[f].name + "\"";
    throw DuplicateKeyError("The key (" + names + ") of \"" + tablePath_ + "\" must be unique: the records " +
                            found->second + " and " + oldKey + " would both get the key " + keyText(after) +
                            ", so nothing is changed");
  }
}

// The staged table again, its records in the order of their new keys.
void TableUpdate::putInKeyOrder() {
  const auto dot = stagedTable_.find_last_of('.');
  const std::string unsorted = stagedTable_.substr(0, dot) + ".unsorted" + stagedTable_.substr(dot);
  files_.rename(stagedTable_, unsorted);
  unsortedTable_ = unsorted;
  writeInKeyOrder(files_, unsortedTable_, stagedTable_);
  files_.remove(unsortedTable_);
  unsortedTable_.clear();
  reordered_ = true;
}

std::shared_ptr<const ByteSource> TableUpdate::stagedBlobSource() const {
  if (!stagedBlobs_.empty()) return openFileSource(stagedBlobs_);
  if (blobName_) return openFileSource(joinPath(folder_, *blobName_));
  return nullptr;
}

namespace {

// The old and new stored bytes of the changed field that the check accepted:
// a field of a million records holds far fewer distinct pairs, and judging
// one decodes both values and may run the transform. Blob fields are judged
// every time, as their bytes point into the memo file. Bounded, for memory.
class AcceptedPairs {
 public:
  explicit AcceptedPairs(const Field& field)
      : width_(isBlobType(field.type) ? 0 : static_cast<std::size_t>(storedWidth(field))) {}

  bool contains(const std::uint8_t* oldBytes, const std::uint8_t* newBytes) {
    if (width_ == 0) return false;
    key_.assign(reinterpret_cast<const char*>(oldBytes), width_);
    key_.append(reinterpret_cast<const char*>(newBytes), width_);
    return accepted_.contains(key_);
  }
  // After `contains` said no for the same pair.
  void add() {
    constexpr std::size_t MostKeptBytes = 64 << 20;
    if (width_ != 0 && (accepted_.size() + 1) * key_.size() <= MostKeptBytes) accepted_.insert(key_);
  }

 private:
  std::size_t width_;
  std::string key_;
  std::unordered_set<std::string> accepted_;
};

// Whether a staged record holds what the old one held: every field but
// `field` byte for byte (memo fields value for value too where the memo file
// was staged, since their values lie there), `field` as `check` accepts.
// The first field that differs, if any. Values are asked for only where
// they are compared, so that a record is decoded no further than needed.
using ValueOf = std::function<Value(std::size_t field)>;
std::optional<std::size_t> firstDifference(const TableHeader& header, const std::vector<std::size_t>& offsets,
                                           const std::uint8_t* oldBytes, const ValueOf& before,
                                           const std::uint8_t* newBytes, const ValueOf& after,
                                           std::optional<std::size_t> field, const ChangeCheck& check,
                                           AcceptedPairs* accepted, bool memosStaged) {
  for (std::size_t f = 0; f < header.fields.size(); ++f) {
    // The changed field is judged whatever it holds: a value left as it was may be one the run missed.
    if (field && *field == f) {
      if (accepted->contains(oldBytes + offsets[f], newBytes + offsets[f])) continue;
      if (!check(before(f), after(f))) return f;
      accepted->add();
      continue;
    }
    const auto width = static_cast<std::size_t>(storedWidth(header.fields[f]));
    if (std::memcmp(oldBytes + offsets[f], newBytes + offsets[f], width) != 0) return f;
    if (memosStaged && isBlobType(header.fields[f].type) && !identical(before(f), after(f))) return f;
  }
  return std::nullopt;
}

}  // namespace

void TableUpdate::verify(std::optional<std::size_t> field, const ChangeCheck& check, const Progress& progress) const {
  if (!written_) throw Error("The table \"" + tablePath_ + "\" has not been written yet");
  const auto fail = [&](const std::string& what) {
    return Error("The new table \"" + stagedTable_ + "\" does not match \"" + tablePath_ + "\": " + what);
  };
  const std::shared_ptr<const ByteSource> oldSource = openFileSource(tablePath_);
  const std::shared_ptr<const ByteSource> newSource = openFileSource(stagedTable_);
  if (oldSource->size() != newSource->size()) throw fail("the files differ in size");
  const auto headerSize = static_cast<std::uint64_t>(header_.headerSize);
  if (bytesOf(*oldSource, headerSize) != bytesOf(*newSource, headerSize)) throw fail("the headers differ");
  if (reordered_)
    verifyReordered(field, check, progress);
  else
    verifyInPlace(field, check, progress);
  if (rebuiltIndexes_.empty()) return;
  if (const std::vector<std::string> faults = checkTable(stagedTable_); !faults.empty())
    throw fail("its rebuilt indexes do not match its records: " + faults.front());
}

void TableUpdate::verifyInPlace(std::optional<std::size_t> field, const ChangeCheck& check,
                                const Progress& progress) const {
  const auto fail = [&](const std::string& what) {
    return Error("The new table \"" + stagedTable_ + "\" does not match \"" + tablePath_ + "\": " + what);
  };
  const Table old = Table::open(tablePath_);
  const Table fresh = Table::open(openFileSource(stagedTable_), stagedBlobSource());
  const std::vector<std::size_t> offsets = fieldOffsets(header_);
  Cursor oldRows = old.cursor();
  Cursor newRows = fresh.cursor();
  const ValueOf before = [&](std::size_t f) { return oldRows.value(f); };
  const ValueOf after = [&](std::size_t f) { return newRows.value(f); };
  std::optional<AcceptedPairs> accepted;
  if (field) accepted.emplace(header_.fields.at(*field));
  for (std::uint64_t record = 1;; ++record) {
    const bool hasOld = oldRows.nextStored();
    const bool hasNew = newRows.nextStored();
    if (!hasOld && !hasNew) {
      if (progress) progress(record - 1);
      return;
    }
    if (hasOld != hasNew || oldRows.recordOffset() != newRows.recordOffset())
      throw fail("the records are not where they were from row " + std::to_string(record) + " on");
    if (const auto f = firstDifference(header_, offsets, oldRows.recordBytes().data(), before,
                                       newRows.recordBytes().data(), after, field, check,
                                       accepted ? &*accepted : nullptr, !stagedBlobs_.empty()))
      throw fail("in row " + std::to_string(record) + ", field \"" + header_.fields[*f].name + "\" holds " +
                 describe(after(*f)) + " where it held " + describe(before(*f)));
    if (record % ProgressEvery == 0 && progress) progress(record);
  }
}

// Records put in key order have moved: each staged record must match one
// old record of its own, found by the bytes of every field but the changed one.
void TableUpdate::verifyReordered(std::optional<std::size_t> field, const ChangeCheck& check,
                                  const Progress& progress) const {
  const auto fail = [&](const std::string& what) {
    return Error("The new table \"" + stagedTable_ + "\" does not match \"" + tablePath_ + "\": " + what);
  };
  const std::vector<std::size_t> offsets = fieldOffsets(header_);
  const auto recordSize = static_cast<std::size_t>(header_.recordSize);
  const auto unchangedBytes = [&](const std::uint8_t* record) {
    std::string bytes(reinterpret_cast<const char*>(record), recordSize);
    if (field)
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offsets[*field]),
                  storedWidth(header_.fields[*field]), '\0');
    return bytes;
  };
  struct OldRecord {
    std::string bytes;
    std::vector<Value> values;
  };
  std::unordered_multimap<std::string, OldRecord> unmatched;
  const Table old = Table::open(tablePath_);
  Cursor oldRows = old.cursor();
  std::vector<Value> row;
  while (oldRows.next(row))
    unmatched.emplace(unchangedBytes(oldRows.recordBytes().data()),
                      OldRecord{std::string(reinterpret_cast<const char*>(oldRows.recordBytes().data()), recordSize), row});

  const Table fresh = Table::open(openFileSource(stagedTable_), stagedBlobSource());
  Cursor newRows = fresh.cursor();
  std::optional<AcceptedPairs> accepted;
  if (field) accepted.emplace(header_.fields.at(*field));
  for (std::uint64_t record = 1; newRows.next(row); ++record) {
    const auto [first, last] = unmatched.equal_range(unchangedBytes(newRows.recordBytes().data()));
    const auto match = std::find_if(first, last, [&](const auto& candidate) {
      const auto* oldBytes = reinterpret_cast<const std::uint8_t*>(candidate.second.bytes.data());
      return !firstDifference(
          header_, offsets, oldBytes, [&](std::size_t f) { return candidate.second.values[f]; },
          newRows.recordBytes().data(), [&](std::size_t f) { return row[f]; }, field, check,
          accepted ? &*accepted : nullptr, !stagedBlobs_.empty());
    });
    if (match == last)
      throw fail("its record " + std::to_string(record) + " in key order is none of the old records with " +
                 (field ? "field \"" + header_.fields[*field].name + "\" changed" : std::string("nothing changed")));
    unmatched.erase(match);
    if (record % ProgressEvery == 0 && progress) progress(record);
  }
  if (!unmatched.empty()) throw fail(std::to_string(unmatched.size()) + " of the old records are missing");
}

void TableUpdate::commit(AsideKeeper* keeper) {
  if (!written_) throw Error("The table \"" + tablePath_ + "\" has not been written yet");
  std::vector<std::string> replaced{tableName_};
  if (!stagedBlobs_.empty()) replaced.push_back(*blobName_);
  replaced.insert(replaced.end(), droppedIndexes_.begin(), droppedIndexes_.end());
  replaced.insert(replaced.end(), rebuiltIndexes_.begin(), rebuiltIndexes_.end());
  replacement_->commit(replaced, keeper);
}

}  // namespace orl::pdx
