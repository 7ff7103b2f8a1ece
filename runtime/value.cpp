#include "value.h"

#include "error.h"
#include "frames.h"

#include <algorithm>

namespace rt {

namespace {
const std::string kEmptyString;
const ArrayPtr kNoArray;
const BlockPtr kNoBlock;
const ObjectPtr kNoObject;
}  // namespace

bool Value::asLogical() const { return isLogical() && std::get<bool>(v_); }

std::int64_t Value::asInteger() const {
    if (isInteger()) return std::get<std::int64_t>(v_);
    if (isDouble()) {
        const double d = std::get<double>(v_);
        if (d != d) return 0;  // NaN
        if (d >= 9.2e18) return INT64_MAX;
        if (d <= -9.2e18) return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    return 0;
}

double Value::asNumber() const {
    if (isInteger()) return static_cast<double>(std::get<std::int64_t>(v_));
    if (isDouble()) return std::get<double>(v_);
    return 0.0;
}

const std::string& Value::asString() const { return isString() ? std::get<std::string>(v_) : kEmptyString; }
Date Value::asDate() const { return isDate() ? std::get<Date>(v_) : Date{}; }
const ArrayPtr& Value::asArray() const { return isArray() ? std::get<ArrayPtr>(v_) : kNoArray; }
const BlockPtr& Value::asBlock() const { return isBlock() ? std::get<BlockPtr>(v_) : kNoBlock; }
const ObjectPtr& Value::asObject() const { return isObject() ? std::get<ObjectPtr>(v_) : kNoObject; }

char Value::typeLetter() const {
    switch (type()) {
    case Type::Nil: return 'U';
    case Type::Logical: return 'L';
    case Type::Integer:
    case Type::Double: return 'N';
    case Type::String: return 'C';
    case Type::Date: return 'D';
    case Type::Array: return 'A';
    case Type::Block: return 'B';
    case Type::Object: return 'O';
    }
    return 'U';
}

bool operator==(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) {
        if (a.isInteger() && b.isInteger()) return a.asInteger() == b.asInteger();
        return a.asNumber() == b.asNumber();
    }
    return a.v_ == b.v_;
}

bool Array::put(std::size_t i, Value v) {
    if (i < 1 || i > items.size()) return false;
    items[i - 1] = std::move(v);
    return true;
}

ArrayPtr makeArray(std::initializer_list<Value> init) { return std::make_shared<Array>(init); }

ArrayPtr makeArray(std::vector<Value> items) {
    auto a = std::make_shared<Array>();
    a->items = std::move(items);
    return a;
}

Value Block::eval(Args args) const {
    Frame frame(owner_, args);
    return fn_ ? fn_(args) : Value{};
}

BlockPtr makeBlock(std::string_view owner, Block::Fn fn) {
    return std::make_shared<Block>("(b)" + std::string(owner), std::move(fn));
}

Value eval(const Value& block, Args args) {
    if (const auto& b = block.asBlock()) return b->eval(args);
    return block;
}

// ---- objects and the class table ------------------------------------------------------

namespace {
std::vector<const ClassInfo*>& classTable() {
    static std::vector<const ClassInfo*> table;
    return table;
}

void enterClass(const ClassInfo& cls) {
    auto& table = classTable();
    if (std::find(table.begin(), table.end(), &cls) != table.end()) return;
    if (cls.parent) enterClass(*cls.parent);
    table.push_back(&cls);
}
}  // namespace

Object::Object(const ClassInfo& cls) : cls_(&cls) { enterClass(cls); }

bool Object::isKindOf(const ClassInfo& cls) const {
    for (const ClassInfo* c = cls_; c; c = c->parent)
        if (c == &cls) return true;
    return false;
}

Value Object::send(std::string_view method, Args args) {
    std::vector<Value> errArgs{Value(shared_from_this())};
    errArgs.insert(errArgs.end(), args.begin(), args.end());
    return raiseSubstitutable(makeError(EG_NOMETHOD, 1004, method, makeArray(std::move(errArgs))));
}

Value send(const Value& object, std::string_view method, Args args) {
    if (const auto& o = object.asObject()) return o->send(method, args);
    std::vector<Value> errArgs{object};
    errArgs.insert(errArgs.end(), args.begin(), args.end());
    return raiseSubstitutable(makeError(EG_NOMETHOD, 1004, method, makeArray(std::move(errArgs))));
}

std::string __CLASSNAME(std::int64_t n) {
    const auto& table = classTable();
    if (n < 1 || static_cast<std::size_t>(n) > table.size()) return "";
    return table[static_cast<std::size_t>(n) - 1]->name;
}

std::size_t classCount() { return classTable().size(); }

}  // namespace rt
