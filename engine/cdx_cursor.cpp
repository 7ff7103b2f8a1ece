// Reading a tree: its first and last entries, steps along the leaf level, searches; and the
// cursors built on them, which walk a tag in its order and find their place again after a
// change.
#include "engine/cdx_state.h"

namespace engine {

// Physical first / last entry.
Result CdxState::edge(const TagMeta& t, bool last, Pos& pos) {
    std::uint32_t off = t.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) return kCdxDamaged;
        CdxNode* n;
        if (const Result r = load(t, off, n)) return r;
        if (n->leaf) {
            if (n->empty()) {
                pos = Pos();
                // An empty leaf is only normal as the root of an empty tag; otherwise look
                // further along the level.
                if (n->left == kNone && n->right == kNone) return kOk;
                Pos from{off, 0};
                return last ? stepBack(t, from, nullptr, pos, true) : stepOn(t, from, nullptr, pos, true);
            }
            pos = {off, last ? n->count() - 1 : 0};
            return kOk;
        }
        if (n->empty()) return kCdxDamaged;
        off = n->child(last ? n->count() - 1 : 0);
    }
}

// The next entry along the leaf level; with fromEmpty the start position is a leaf
// without entries to look beyond. Every step must move to a larger entry, which also
// stops a cycle in the sibling links.
Result CdxState::stepOn(const TagMeta& t, Pos from, const EntryView* current, Pos& out, bool fromEmpty) {
    CdxNode* n;
    if (const Result r = load(t, from.leaf, n)) return r;
    if (!fromEmpty && from.slot + 1 < n->count()) {
        out = {from.leaf, from.slot + 1};
        return kOk;
    }
    EntryView last;
    if (!fromEmpty && !n->empty())
        last = n->entry(std::min(from.slot, n->count() - 1));
    else if (current)
        last = *current;
    const bool haveLast = !fromEmpty || current;
    std::uint32_t next = n->right;
    for (std::uint64_t steps = 0; next != kNone; ++steps) {
        if (steps > end / kNodeSize) return kCdxDamaged;
        CdxNode* m;
        if (const Result r = load(t, next, m)) return r;
        if (!m->leaf) return kCdxDamaged;
        if (!m->empty()) {
            if (haveLast && t.order(last.key, last.recno, m->key(0), m->recno(0)) >= 0) return kCdxDamaged;
            out = {next, 0};
            return kOk;
        }
        next = m->right;
    }
    out = Pos();
    return kOk;
}

Result CdxState::stepBack(const TagMeta& t, Pos from, const EntryView* current, Pos& out, bool fromEmpty) {
    CdxNode* n;
    if (const Result r = load(t, from.leaf, n)) return r;
    if (!fromEmpty && from.slot > 0 && from.slot <= n->count()) {
        out = {from.leaf, from.slot - 1};
        return kOk;
    }
    EntryView first;
    if (!fromEmpty && !n->empty())
        first = n->entry(0);
    else if (current)
        first = *current;
    const bool haveFirst = !fromEmpty || current;
    std::uint32_t prev = n->left;
    for (std::uint64_t steps = 0; prev != kNone; ++steps) {
        if (steps > end / kNodeSize) return kCdxDamaged;
        CdxNode* m;
        if (const Result r = load(t, prev, m)) return r;
        if (!m->leaf) return kCdxDamaged;
        if (!m->empty()) {
            const std::size_t l = m->count() - 1;
            if (haveFirst && t.order(m->key(l), m->recno(l), first.key, first.recno) >= 0) return kCdxDamaged;
            out = {prev, l};
            return kOk;
        }
        prev = m->left;
    }
    out = Pos();
    return kOk;
}

Result CdxState::lowerBoundEntry(const TagMeta& t, std::string_view key, std::uint32_t recno, Pos& pos) {
    return lowerBound(
        t, [&](std::string_view k, std::uint32_t r) { return t.order(k, r, key, recno) < 0; }, pos);
}

std::optional<EntryView> CdxState::entryAt(const TagMeta& t, Pos p) {
    if (p.atEnd()) return std::nullopt;
    CdxNode* n;
    if (load(t, p.leaf, n) || p.slot >= n->count()) return std::nullopt;
    return n->entry(p.slot);
}

// Cursors.

namespace {

bool startsWith(std::string_view key, std::string_view prefix) {
    return key.size() >= prefix.size() && key.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

struct CursorAccess {
    static Result bind(CdxCursor& c, CdxState*& s, TagMeta*& t) {
        if (!c.index_) return kCdxNotOpen;
        s = c.index_->s_.get();
        if (!s->open) return kCdxNotOpen;
        t = s->meta(c.tag_);
        if (!t || c.tag_ == 0) return kCdxNoTag;
        return kOk;
    }

    static void place(CdxCursor& c, CdxState& s, const TagMeta& t, CdxState::Pos p, bool pastEnd) {
        c.between_ = false;
        c.counter_ = s.counter;
        const auto e = s.entryAt(t, p);
        if (!e) {
            c.state_ = pastEnd ? CdxCursor::State::Eof : CdxCursor::State::Bof;
            c.key_.clear();
            c.recno_ = 0;
            return;
        }
        c.state_ = CdxCursor::State::On;
        c.leaf_ = p.leaf;
        c.slot_ = p.slot;
        c.key_ = e->key;
        c.recno_ = e->recno;
    }

    // Makes sure (leaf_, slot_) still holds the current entry; after a change finds it again,
    // or the place where it was.
    static Result sync(CdxCursor& c, CdxState& s, const TagMeta& t) {
        if (c.state_ != CdxCursor::State::On || c.between_) {
            if (c.counter_ == s.counter) return kOk;
        } else if (c.counter_ == s.counter) {
            const auto e = s.entryAt(t, {c.leaf_, c.slot_});
            if (e && e->recno == c.recno_ && e->key == c.key_) return kOk;
        }
        CdxState::Pos p;
        if (const Result r = s.lowerBoundEntry(t, c.key_, c.recno_, p)) return r;
        const auto e = s.entryAt(t, p);
        c.counter_ = s.counter;
        c.leaf_ = p.leaf;
        c.slot_ = p.slot;
        c.between_ = !(e && e->recno == c.recno_ && e->key == c.key_);
        return kOk;
    }

    // One step in stored order (forward = along the leaf links, left to right).
    static Result step(CdxCursor& c, bool forward) {
        CdxState* s;
        TagMeta* t;
        if (const Result r = bind(c, s, t)) return r;
        s->trim();
        if (c.state_ == CdxCursor::State::None ||
            c.state_ == (forward != t->backwards() ? CdxCursor::State::Bof : CdxCursor::State::Eof)) {
            // From before the start in this direction: the first entry of the direction.
            CdxState::Pos p;
            if (const Result r = s->edge(*t, !forward, p)) return r;
            place(c, *s, *t, p, true);
            if (!p.atEnd()) return kOk;
            c.state_ = forward != t->backwards() ? CdxCursor::State::Eof : CdxCursor::State::Bof;
            return kOk;
        }
        if (c.state_ != CdxCursor::State::On) return kOk; // already off this end
        if (const Result r = sync(c, *s, *t)) return r;
        const bool pastEnd = forward != t->backwards();
        const EntryView cur{c.key_, c.recno_, 0};
        CdxState::Pos p;
        if (c.between_) {
            if (forward) {
                p = {c.leaf_, c.slot_};
            } else if (c.leaf_ == kNone) {
                if (const Result r = s->edge(*t, true, p)) return r;
            } else if (const Result r = s->stepBack(*t, {c.leaf_, c.slot_}, &cur, p)) {
                return r;
            }
        } else if (const Result r = forward ? s->stepOn(*t, {c.leaf_, c.slot_}, &cur, p)
                                            : s->stepBack(*t, {c.leaf_, c.slot_}, &cur, p)) {
            return r;
        }
        place(c, *s, *t, p, pastEnd);
        return kOk;
    }
};

Result CdxCursor::first() {
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->edge(*t, t->backwards(), p)) return r;
    CursorAccess::place(*this, *s, *t, p, true);
    return kOk;
}

Result CdxCursor::last() {
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->edge(*t, !t->backwards(), p)) return r;
    CursorAccess::place(*this, *s, *t, p, false);
    return kOk;
}

Result CdxCursor::next() {
    if (!index_) return kCdxNotOpen;
    const CdxState* s = index_->s_.get();
    const TagMeta* t = s->open ? const_cast<CdxState*>(s)->meta(tag_) : nullptr;
    return CursorAccess::step(*this, !(t && t->backwards()));
}

Result CdxCursor::prev() {
    if (!index_) return kCdxNotOpen;
    const CdxState* s = index_->s_.get();
    const TagMeta* t = s->open ? const_cast<CdxState*>(s)->meta(tag_) : nullptr;
    return CursorAccess::step(*this, t && t->backwards());
}

namespace {

// The first entry in stored order whose first key.size() bytes are not below key.
Result firstNotBelow(CdxState& s, const TagMeta& t, std::string_view key, CdxState::Pos& p) {
    const std::size_t n = key.size();
    return s.lowerBound(
        t, [&](std::string_view k, std::uint32_t) { return t.orderKeys(k.substr(0, n), key) < 0; }, p);
}

// The last entry in stored order whose first key.size() bytes are not above key.
Result lastNotAbove(CdxState& s, const TagMeta& t, std::string_view key, CdxState::Pos& p) {
    const std::size_t n = key.size();
    if (const Result r = s.lowerBound(
            t, [&](std::string_view k, std::uint32_t) { return t.orderKeys(k.substr(0, n), key) <= 0; }, p))
        return r;
    if (p.atEnd()) return s.edge(t, true, p);
    const auto e = s.entryAt(t, p);
    if (!e) return kCdxDamaged;
    const EntryView cur = *e;
    return s.stepBack(t, p, &cur, p);
}

} // namespace

Result CdxCursor::seek(std::string_view key, bool& found) {
    found = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    if (key.size() > t->keyLen) key = key.substr(0, t->keyLen);
    CdxState::Pos p;
    if (const Result r = t->backwards() ? lastNotAbove(*s, *t, key, p) : firstNotBelow(*s, *t, key, p))
        return r;
    CursorAccess::place(*this, *s, *t, p, true);
    found = positioned() && startsWith(key_, key);
    return kOk;
}

Result CdxCursor::seekLast(std::string_view key, bool& found) {
    found = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    if (key.size() > t->keyLen) key = key.substr(0, t->keyLen);
    CdxState::Pos p;
    if (const Result r = t->backwards() ? firstNotBelow(*s, *t, key, p) : lastNotAbove(*s, *t, key, p))
        return r;
    const auto e = s->entryAt(*t, p);
    if (e && startsWith(e->key, key)) {
        CursorAccess::place(*this, *s, *t, p, true);
        found = true;
        return kOk;
    }
    return seek(key, found);
}

Result CdxCursor::find(std::string_view key, std::uint32_t recno, bool& exact) {
    exact = false;
    CdxState* s;
    TagMeta* t;
    if (const Result r = CursorAccess::bind(*this, s, t)) return r;
    s->trim();
    CdxState::Pos p;
    if (const Result r = s->lowerBoundEntry(*t, key, recno, p)) return r;
    const auto e = s->entryAt(*t, p);
    exact = e && e->recno == recno && e->key == key;
    if (!exact && t->backwards()) {
        // The entry that follows in descending order is the one before in the file.
        if (p.atEnd()) {
            if (const Result r = s->edge(*t, true, p)) return r;
        } else {
            const EntryView cur = *e;
            if (const Result r = s->stepBack(*t, p, &cur, p)) return r;
        }
    }
    CursorAccess::place(*this, *s, *t, p, true);
    return kOk;
}

} // namespace engine
