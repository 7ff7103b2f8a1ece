// Dynamic values of the runtime: no value, logical, number (integer and floating point kept
// apart), length-counted byte string, date, list, code block and object.
//
// Strings are byte strings in the ANSI code page; they may hold NUL bytes. Lists and objects
// have reference semantics (copying a Value copies the reference); strings are values.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace rt {

// A calendar date as a Julian day number; 0 is the empty date.
struct Date {
    std::int32_t julian = 0;
    bool empty() const { return julian == 0; }
    friend bool operator==(Date, Date) = default;
    friend auto operator<=>(Date, Date) = default;
};

class Array;
class Block;
class Object;
using ArrayPtr = std::shared_ptr<Array>;
using BlockPtr = std::shared_ptr<Block>;
using ObjectPtr = std::shared_ptr<Object>;

enum class Type : std::uint8_t { Nil, Logical, Integer, Double, String, Date, Array, Block, Object };

class Value {
public:
    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int n) : v_(std::int64_t{n}) {}
    Value(long n) : v_(std::int64_t{n}) {}
    Value(long long n) : v_(std::int64_t{n}) {}
    Value(unsigned n) : v_(std::int64_t{n}) {}
    Value(unsigned long n) : v_(static_cast<std::int64_t>(n)) {}
    Value(unsigned long long n) : v_(static_cast<std::int64_t>(n)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Date d) : v_(d) {}
    Value(ArrayPtr a) : v_(std::move(a)) {}
    Value(BlockPtr b) : v_(std::move(b)) {}
    Value(ObjectPtr o) : v_(std::move(o)) {}
    template <class T>
        requires std::is_base_of_v<Object, T>
    Value(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNil() const { return type() == Type::Nil; }
    bool isLogical() const { return type() == Type::Logical; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isInteger() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isBlock() const { return type() == Type::Block; }
    bool isObject() const { return type() == Type::Object; }

    // Accessors. Asking for the wrong type gives the type's empty value (false, 0, "",
    // the empty date, null), never undefined behaviour.
    bool asLogical() const;
    std::int64_t asInteger() const;  // a floating-point number is truncated
    double asNumber() const;
    const std::string& asString() const;
    Date asDate() const;
    const ArrayPtr& asArray() const;
    const BlockPtr& asBlock() const;
    const ObjectPtr& asObject() const;
    template <class T>
    std::shared_ptr<T> objectAs() const {
        return isObject() ? std::dynamic_pointer_cast<T>(asObject()) : nullptr;
    }

    // The runtime's type letter: "C", "N", "D", "L", "A", "B", "O" or "U".
    char typeLetter() const;

    // Identity for lists, blocks and objects; equality of contents for the rest
    // (an integer and a floating-point number of the same value are equal).
    friend bool operator==(const Value& a, const Value& b);

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Date, ArrayPtr, BlockPtr,
                 ObjectPtr>
        v_;
};

using Args = std::span<const Value>;

// A 1-based, growable list of values with shared reference semantics.
class Array {
public:
    Array() = default;
    explicit Array(std::size_t n) : items(n) {}
    Array(std::initializer_list<Value> init) : items(init) {}

    std::size_t size() const { return items.size(); }
    // 1-based element access; an index out of range reads as no value.
    Value at(std::size_t i) const { return i >= 1 && i <= items.size() ? items[i - 1] : Value{}; }
    // 1-based element store; an index out of range is ignored and answers false.
    bool put(std::size_t i, Value v);
    void add(Value v) { items.push_back(std::move(v)); }

    std::vector<Value> items;
};

ArrayPtr makeArray(std::initializer_list<Value> init = {});
ArrayPtr makeArray(std::vector<Value> items);

// A code block: a stored callable with its captured variables. Evaluating it pushes a call
// frame named "(b)" + the routine that made it, with the block's parameters.
class Block {
public:
    using Fn = std::function<Value(Args)>;
    Block(std::string owner, Fn fn) : owner_(std::move(owner)), fn_(std::move(fn)) {}

    const std::string& frameName() const { return owner_; }
    Value eval(Args args) const;

private:
    std::string owner_;  // "(b)MAIN" and the like
    Fn fn_;
};

// Makes a block; owner is the routine that defines it (the frame reads "(b)" + owner).
BlockPtr makeBlock(std::string_view owner, Block::Fn fn);

// Evaluates a value that may be a block; anything else evaluates to itself.
Value eval(const Value& block, Args args = {});
template <class... A>
Value evalWith(const Value& block, A&&... a) {
    const Value args[] = {Value(std::forward<A>(a))...};
    return eval(block, Args(args, sizeof...(A)));
}
inline Value evalWith(const Value& block) { return eval(block); }

// Class identity. Each class has one static ClassInfo naming its parent; the first object of a
// class enters the class and its ancestors in the runtime's class table (parents first).
struct ClassInfo {
    const char* name;
    const ClassInfo* parent;
};

class Object : public std::enable_shared_from_this<Object> {
public:
    explicit Object(const ClassInfo& cls);
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const char* className() const { return cls_->name; }
    const ClassInfo& classInfo() const { return *cls_; }
    bool isKindOf(const ClassInfo& cls) const;

    // Dynamic method call, for callers that only hold a Value. The base class knows no
    // method: it raises the runtime's "No exported method" error.
    virtual Value send(std::string_view method, Args args);

private:
    const ClassInfo* cls_;
};

// Calls a method on the object held by a value; a value that holds no object raises the same
// "No exported method" error.
Value send(const Value& object, std::string_view method, Args args = {});
template <class... A>
Value sendWith(const Value& object, std::string_view method, A&&... a) {
    const Value args[] = {Value(std::forward<A>(a))...};
    return send(object, method, Args(args, sizeof...(A)));
}

// The class table: names in the order the classes were first used, from 1. "" past the end.
std::string __CLASSNAME(std::int64_t n);
std::size_t classCount();

}  // namespace rt
