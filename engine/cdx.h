// Compound index files (.cdx): several named tags in one file, each a B-tree of fixed-length
// keys with record numbers, in the published FoxPro compact layout.
//
// File layout (all offsets multiples of 512; numbers little-endian unless said otherwise):
//   0     1024-byte file header, which is the header of the tag directory: a compact B-tree
//         whose keys are the tag names (upper case, blank-padded to 10 bytes) and whose record
//         numbers are the offsets of the tags' own headers.
//   ...   for each tag a 1024-byte tag header, and 512-byte nodes.
// Tag header (and file header): 0 root node offset; 4 free node list (-1 when empty; only
//   the file header's list is used, for every tag: a free node holds the offset of the next
//   one in its first 4 bytes and zeros after them); 8 change counter; 12 key length (2 bytes);
//   14 options (1 unique, 8 has FOR, 32 compact, 64 compound); 15 signature (1); 496 key type
//   hint ('C', 'N', 'D', 'L'; written by this engine, 0 in files from elsewhere); 502
//   descending (2 bytes, 0 or 1); 506 FOR pool length, 510 key pool length (2 bytes each, with
//   the closing NUL); 512 the key expression text, NUL, then the FOR text, NUL.
// Directory header only: 497 a change of table and index under way (1) or none (0).
// Interior node: 0 attributes (2 bytes: 1 root, 2 leaf, 4 the root leaf of a tag: read as
//   neither, written as the FoxPro family writes it; other bits anywhere make the whole tag
//   read-only), 2 key count, 4 left
//   and 8 right sibling (-1 none), then per entry the key, the record number and the child node offset, both
//   4 bytes big-endian; each entry's key and record number are those of the last entry of the child's
//   subtree.
// Exterior (leaf) node: 0 attributes, 2 key count, 4 left, 8 right, 12 free bytes, 14 record
//   number mask (4 bytes), 18 duplicate count mask, 19 trailing count mask, 20 record number
//   bits, 21 duplicate count bits, 22 trailing count bits, 23 bytes per entry; from 24 the
//   entries (record number, duplicate count, trailing count packed little-endian from the
//   low bits up), and from the end of the node backwards the key bytes that are neither shared
//   with the previous key of the node nor trailing fill (blanks in character keys, NULs in
//   others).
//
// A tag whose key length is over 240 (written elsewhere) is listed with the reason it cannot
// be used (TagInfo::unusable) and is not read further; the other tags of the file are used as
// ever.
//
// A tag header with anything in bytes 33 to 495 (zero in every machine-order tag) is taken to
// be of another collation sequence: it is walked and searched, but never changed
// (kCdxReadOnlyTag). The free node list is empty at 0 or -1; an empty one is written 0.
//
// Keys are ordered as unsigned bytes, equal keys by record number. Descending tags are stored
// in the same ascending order and flagged in the header; a cursor on them runs the whole order
// backwards, so equal keys come by descending record number there. A descending tag written
// elsewhere may instead be stored in that descending order itself (its leftmost leaf begins
// with its highest key; told from the data on opening): it is walked and searched forwards in
// the same order, and never changed (kCdxReadOnlyTag).
//
// The index never touches the operating system: it reads and writes a BlockFile. Locking
// between processes is the caller's: hold a shared OS lock around reads and an exclusive one
// around changes, and call refresh() after taking a lock so that pages cached before another
// process changed the file are dropped.
//
// The index is written in one file per layer, each over the one before:
//   cdx_node.h/.cpp    the file's layout, the in-memory nodes and tags, the node codec
//   cdx_state.h        the state of an open index, and the interface between the layers
//   cdx_cache.cpp      the cache of decoded nodes; a change begun, abandoned or written out
//   cdx_freelist.cpp   the free list: nodes taken and given back
//   cdx_cursor.cpp     reading a tree (ends, steps, searches) and the cursors
//   cdx_tree.cpp       changing a tree: a key into and out of its leaf, splits, merges, the
//                      root; building a tree in one pass
//   cdx_directory.cpp  the file header and the tag directory; adding and removing tags
//   cdx_salvage.cpp    the tags' definitions as a damaged file still tells them, for a rebuild
//   cdx.cpp            the calls for keys: insert, erase, staged changes, the mark of a
//                      change under way, verify
#pragma once

#include "engine/expr.h"
#include "engine/keys.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The index half's codes that came after expr.h's list.
// A change to a tag of another collation sequence, or with node attributes this engine does
// not know: such tags are read, never written.
inline constexpr Result kCdxReadOnlyTag = 7539;
// An insert into a candidate tag (header option 4) that holds the key for another record.
inline constexpr Result kCdxDuplicateKey = 7540;

// Storage of an index file.
class BlockFile {
  public:
    virtual ~BlockFile() = default;
    // Reads exactly size bytes at offset; false when the file is shorter or reading fails.
    virtual bool read(std::uint64_t offset, void* data, std::size_t size) = 0;
    // Writes size bytes at offset, growing the file as needed.
    virtual bool write(std::uint64_t offset, const void* data, std::size_t size) = 0;
    virtual bool size(std::uint64_t& out) = 0;
    virtual bool truncate(std::uint64_t size) = 0;
};

// A BlockFile in memory (tests, fuzzing, scratch work).
class MemoryBlockFile final : public BlockFile {
  public:
    MemoryBlockFile() = default;
    explicit MemoryBlockFile(std::string bytes) : bytes(std::move(bytes)) {}
    bool read(std::uint64_t offset, void* data, std::size_t size) override;
    bool write(std::uint64_t offset, const void* data, std::size_t size) override;
    bool size(std::uint64_t& out) override;
    bool truncate(std::uint64_t size) override;

    std::string bytes;
};

// A tag is known by the offset of its header, which stays the same while the tag exists.
using TagId = std::uint32_t;

struct TagSpec {
    std::string name;         // 1 to 10 characters: letters, digits, "_"; stored upper case
    std::string keyExpr;      // the key expression text (stored, not compiled here)
    std::string forExpr;      // the FOR condition text, empty for none
    char keyType = 'C';       // C N D L I
    std::uint16_t keyLen = 0; // 1..240 for C; 8 for N and D; 1 for L; 4 for I
    bool unique = false;
    bool descending = false;
    bool candidate = false; // header option 4: a key may belong to one record only
};

struct TagInfo {
    TagId id = 0;
    std::string name; // upper case, no padding
    std::string keyExpr;
    std::string forExpr;
    char keyType = 'C';
    std::uint16_t keyLen = 0;
    bool unique = false;
    bool descending = false;
    bool keyTypeKnown = false;     // false when the file did not say and the key length leaves
                                   // it open (8, 4 or 1 bytes); see setKeyType
    bool readOnly = false;         // another collation sequence: walked, never changed
    bool candidate = false;        // option 4: a key may belong to one record only
    bool storedDescending = false; // a descending tag from elsewhere kept highest key first:
                                   // walked and searched in its order, never changed
    std::string unusable;          // why this engine cannot use the tag at all (keys longer
                                   // than 240 bytes), empty when it can: such a tag is named
                                   // and described, never walked, searched or changed
    bool unknownNodes = false;     // nodes with attribute bits this engine does not know:
                                   // walked and searched, never changed (known once the
                                   // tag was looked at whole: see writable)
};

// One key change of a tag, for CdxIndex::stage.
struct KeyChange {
    TagId tag = 0;
    bool insert = true;
    std::string key;
    std::uint32_t recno = 0;
};

// (key, record number) pairs for building a tag in one pass. Keys are cut or padded with
// the type's fill byte to the key length.
class KeyList {
  public:
    KeyList(std::size_t keyLen, char keyType);
    void reserve(std::size_t count);
    void add(std::string_view key, std::uint32_t recno);
    std::size_t size() const { return recnos_.size(); }
    std::size_t keyLen() const { return keyLen_; }
    std::string_view key(std::size_t i) const { return std::string_view(keys_).substr(i * keyLen_, keyLen_); }
    std::uint32_t recno(std::size_t i) const { return recnos_[i]; }

  private:
    std::size_t keyLen_;
    char fill_;
    std::string keys_;
    std::vector<std::uint32_t> recnos_;
};

// A tag's definition as readTagDefinitions finds it in a file that may be damaged.
struct TagDefinition {
    TagId id = 0;                // the header's offset: tags were made in this order
    bool readable = false;       // false: the directory names the tag, its header is lost or broken
    std::string why;             // what was wrong with the header, when it is not readable
    TagSpec tagSpec;             // name; the rest only when readable
    bool keyTypeKnown = false;   // the header says the key type (files of this engine)
    bool otherCollation = false; // the header names another collation sequence
};

// Reads an index file's tag directory and its tags' headers as far as they hold together,
// for rebuilding the tags elsewhere: nothing but the directory and the headers is read, so a
// file whose trees are broken or cut off still gives every definition. defs are in the order
// the tags were made. Answers 0 when the directory was read to its end (a tag whose header is
// lost is still listed, not readable), kCdxDamaged when the file header or the directory does
// not hold together (defs keeps what was read before the fault), kCdxIo when reading failed.
Result readTagDefinitions(BlockFile& file, std::vector<TagDefinition>& defs);

// What the pages of an index file are used for (CdxIndex::checkPages).
struct PageReport {
    // The free list naming a page outside the file, one a tag or header uses, or one it named
    // before (a circle); a page two trees use. In plain words.
    std::vector<std::string> faults;
    // Pages that no tree, no header and no free list reaches: space an earlier change left
    // behind (normal in files from elsewhere, harmless).
    std::vector<std::uint32_t> unreached;
    // False when a tree could not be walked: its pages are not known, unreached is left empty.
    bool complete = true;
};

class CdxIndex;

// A position in one tag, in the tag's order (backwards for descending tags). A cursor notes
// the file's change counter when it moves; when the counter has moved since (a change made
// through the index or by another process), the next move first finds its place again by
// (key, record number), so a deleted current entry is stepped over correctly.
class CdxCursor {
  public:
    CdxCursor() = default;
    CdxCursor(CdxIndex& index, TagId tag) : index_(&index), tag_(tag) {}

    // Each answers 0 or an error code; running off either end is not an error: the cursor
    // is then at its end (eof) or before its beginning (bof) and has no current entry.
    Result first();
    Result last();
    // From bof next() goes to the first entry; at eof it stays. prev() mirrors that.
    Result next();
    Result prev();
    // The first entry in tag order that does not sort before key, where key may be shorter
    // than the key length (a prefix). found tells whether that entry begins with key.
    Result seek(std::string_view key, bool& found);
    // The last entry in tag order that begins with key (found), else as seek.
    Result seekLast(std::string_view key, bool& found);
    // Positions on the entry (key, recno); when it is not there, on the entry that would
    // follow it in tag order (exact = false).
    Result find(std::string_view key, std::uint32_t recno, bool& exact);

    bool positioned() const { return state_ == State::On; }
    bool eof() const { return state_ == State::Eof; }
    bool bof() const { return state_ == State::Bof; }
    const std::string& key() const { return key_; } // empty when not positioned
    std::uint32_t recno() const { return state_ == State::On ? recno_ : 0; }
    TagId tag() const { return tag_; }

  private:
    friend class CdxIndex;
    friend struct CursorAccess;
    enum class State : std::uint8_t { None, On, Bof, Eof };
    CdxIndex* index_ = nullptr;
    TagId tag_ = 0;
    State state_ = State::None;
    std::string key_;
    std::uint32_t recno_ = 0;
    std::uint32_t leaf_ = 0;    // node holding the current entry
    std::size_t slot_ = 0;      // its position in that node
    std::uint32_t counter_ = 0; // the file's change counter when the position was taken
    bool between_ = false;      // re-found after a change: just before (leaf_, slot_)
};

struct CdxState;     // cached nodes and the tag list (cdx_state.h)
struct CursorAccess; // cursor moves (cdx_cursor.cpp)

class CdxIndex {
  public:
    explicit CdxIndex(BlockFile& file);
    ~CdxIndex();
    CdxIndex(const CdxIndex&) = delete;
    CdxIndex& operator=(const CdxIndex&) = delete;

    // Writes an empty compound index (no tags) over whatever the file held.
    Result create();
    // Reads and checks the file header and the tag directory.
    Result open();
    bool isOpen() const;

    // Reads the change counter from the file; when it moved, drops every cached node and
    // reads the tag directory again. changed (optional) tells whether it moved.
    Result refresh(bool* changed = nullptr);
    // The change counter as last read or written; every change adds one.
    std::uint32_t changeCounter() const;
    // Forgets every cached node (the next read goes to the file).
    void dropCache();

    // Tags in the order they were created (by header offset).
    const std::vector<TagInfo>& tags() const;
    const TagInfo* findTag(std::string_view name) const; // case-insensitive, blanks trimmed
    const TagInfo* tag(TagId id) const;

    // Adds a tag and builds its tree from keys (any order; sorted here). A unique tag keeps
    // the lowest record number of each key. The keys' length must be the definition's key length.
    Result addTag(const TagSpec& def, KeyList& keys, TagId* id = nullptr);
    Result removeTag(std::string_view name);
    // Tells the index the key type of a tag from a file that did not record it (the caller
    // knows it by compiling the key expression). Call it before reading such a tag: until
    // then its keys are taken as character keys, and an 8-byte numeric or date key would be
    // read with blanks where its trailing NUL bytes belong, and insert and erase refuse to
    // change it (kKeyBadType). Kept in memory only (the file is not written) and kept across
    // refresh().
    Result setKeyType(TagId id, char keyType);

    // Whether the tag may be changed: kOk, or kCdxReadOnlyTag for a tag of another collation,
    // kept highest first, or with a node anywhere whose attribute word has bits this engine
    // does not know (the whole tag is then only read, and stays so). The first call for a
    // tag walks all of its nodes; insert, erase and stage ask it too.
    Result writable(TagId id);

    // One key. A unique tag holds a key once, with the lowest record number given for it:
    // insert on a unique tag that holds the key for a lower record changes nothing (added
    // false), for a higher one moves the key to this record. erase answers kCdxKeyNotFound
    // when the pair is not there.
    Result insert(TagId id, std::string_view key, std::uint32_t recno, bool* added = nullptr);
    Result erase(TagId id, std::string_view key, std::uint32_t recno);

    // Several changes as one: stage() makes them all in memory, or none (answering the first
    // refusal, with nothing changed); commitStaged() then writes them, dropStaged() forgets
    // them. Erasing a pair that is not there is no refusal; inserting a key a unique tag holds
    // already does as insert does; inserting a key a candidate tag holds for another record is
    // refused (kCdxDuplicateKey) unless candidates is false. Nothing else may change the
    // index in between.
    // commitStaged(true) keeps the changed nodes in memory instead (the index reads them from
    // there), to be written together with later ones: by writeHeld(), by the next change
    // committed without hold, by clearing the mark, or by any call that changes the tag list
    // or reads the file anew. Only for a file marked as being changed (markChanging(true))
    // that no one else reads meanwhile: until then the file is not what the index holds.
    // A commit whose writing fails answers kCdxIo and keeps its changes in memory.
    Result stage(const std::vector<KeyChange>& changes, bool candidates = true);
    Result commitStaged(bool hold = false);
    void dropStaged();
    Result writeHeld();
    bool holding() const; // changes committed and not yet written
    // Marks the file (on) as being changed together with its table, and clears the mark (off)
    // once both are written (changes held are written first). A mark found on opening, that
    // this index did not set, means an earlier change of the pair did not end: outOfDate().
    Result markChanging(bool on);
    bool outOfDate() const;

    // Walks a whole tag checking every node: sibling links, order, levels, counts. count
    // (optional) receives the number of entries.
    Result verify(TagId id, std::uint64_t* count = nullptr);
    // Walks every tree and follows the free list as the file holds them: each listed page
    // must lie in the file, be used by nothing else and be listed once.
    Result checkPages(PageReport& report);

  private:
    friend class CdxCursor;
    friend struct CursorAccess;
    std::unique_ptr<CdxState> s_;
};

} // namespace engine
