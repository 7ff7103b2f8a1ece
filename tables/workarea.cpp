#include "workarea.h"

#include "driver.h"
#include "hostfile.h"
#include "registry.h"

#include "runtime/error.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tables {

namespace {

// Sets the network-error flag when an open fails, also when the failure leaves through the
// error handler.
class NetErrOnFailure {
  public:
    ~NetErrOnFailure() {
        if (!ok_) rt::NETERR(true);
    }
    void succeeded() { ok_ = true; }

  private:
    bool ok_ = false;
};

struct Areas {
    std::array<std::unique_ptr<WorkArea>, kMaxAreas + 1> slot; // slot 0 unused
    int current = 1;
    bool ended = false;
    std::function<rt::Value(std::string_view)> keyCompiler;
};

Areas g_areas;
Areas& areas() {
    return g_areas;
}

WorkArea* current() {
    return areas().slot[areas().current].get();
}

void commandError(int genCode, std::int64_t subCode, std::string_view operation) {
    rt::launchError(rt::makeError(genCode, subCode, operation, 0, "DBCMD"));
}

// The current work area, or the "Workarea not in use" error for the command.
WorkArea* need(std::string_view operation) {
    WorkArea* a = current();
    if (!a) commandError(rt::EG_NOTABLE, 2001, operation);
    return a;
}

} // namespace

std::string upperTrim(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

namespace {

std::size_t baseStart(std::string_view path) {
    const std::size_t sep = path.find_last_of("\\/:");
    return sep == std::string_view::npos ? 0 : sep + 1;
}

// The file's base name: no folder, nothing from its last ".".
std::string baseName(std::string_view path) {
    std::string_view base = path.substr(baseStart(path));
    const std::size_t dot = base.rfind('.');
    if (dot != std::string_view::npos) base = base.substr(0, dot);
    return std::string(base);
}

bool hasExtension(std::string_view path) {
    return path.substr(baseStart(path)).find('.') != std::string_view::npos;
}

// Aliases that name work areas by letter, or that begin with a digit, are refused.
bool refusedAlias(const std::string& alias) {
    if (alias.empty()) return true;
    if (alias[0] >= '0' && alias[0] <= '9') return true;
    return alias.size() == 1 && ((alias[0] >= 'A' && alias[0] <= 'K') || alias[0] == 'M');
}

int lowestFree() {
    for (int i = 1; i <= kMaxAreas; ++i)
        if (!areas().slot[i]) return i;
    return 0;
}

WorkAreaDriver* driverNamed(const rt::Value& name) {
    const std::string wanted = name.isString() && !upperTrim(name.asString()).empty()
                                   ? upperTrim(name.asString())
                                   : defaultDriverName();
    const Driver* d = findDriver(wanted);
    return d ? d->driver.get() : nullptr;
}

std::int64_t numberArg(const rt::Value& v, std::int64_t fallback) {
    return v.isNumber() ? v.asInteger() : fallback;
}

// Runs fn with another work area selected, then selects the previous one again.
template <typename Fn> void inArea(int number, Fn fn) {
    const int saved = areas().current;
    areas().current = number;
    fn();
    areas().current = saved;
}

int g_relationDepth = 0;

// After the parent moved: every child seeks the relation's key (goes to that record number in
// natural order), and its own children follow it.
void followRelations(WorkArea& parent) {
    if (parent.relations.empty() || g_relationDepth > kMaxAreas) return;
    ++g_relationDepth;
    const std::vector<Relation> relations = parent.relations;
    for (const Relation& rel : relations) {
        const rt::Value key = rt::eval(rel.key);
        WorkArea* child = areas().slot[rel.child].get();
        if (!child) continue;
        inArea(rel.child, [&] {
            std::uint16_t order = 0;
            child->driver->orderNumber(*child, order);
            if (order > 0)
                child->driver->seek(*child, key, false, false);
            else if (key.isNumber())
                child->driver->goTo(*child,
                                    key.asInteger() > 0 ? static_cast<std::uint32_t>(key.asInteger()) : 0);
            followRelations(*child);
        });
    }
    --g_relationDepth;
}

void closeArea(int number) {
    Areas& all = areas();
    std::unique_ptr<WorkArea>& slot = all.slot[number];
    if (!slot) return;
    slot->driver->close(*slot);
    slot.reset();
    for (auto& other : all.slot) {
        if (!other) continue;
        std::erase_if(other->relations, [&](const Relation& r) { return r.child == number; });
    }
}

} // namespace

// ---- Selection -----------------------------------------------------------------------------

int areaOfAlias(std::string_view alias) {
    const std::string wanted = upperTrim(alias);
    if (wanted.empty()) return 0;
    for (int i = 1; i <= kMaxAreas; ++i)
        if (areas().slot[i] && areas().slot[i]->alias == wanted) return i;
    return 0;
}

int currentArea() {
    return areas().current;
}

std::int64_t SELECT(const rt::Value& area) {
    if (area.isString()) return areaOfAlias(area.asString());
    if (area.isNumber()) return area.asInteger();
    return areas().current;
}

std::int64_t DBSELECTAREA(const rt::Value& area) {
    Areas& all = areas();
    if (area.isNumber()) {
        const std::int64_t n = area.asInteger();
        if (n == 0) {
            const int free = lowestFree();
            if (free) all.current = free;
        } else if (n >= 1 && n <= kMaxAreas) {
            all.current = static_cast<int>(n);
        }
        return all.current;
    }
    if (area.isString()) {
        for (;;) {
            const int n = areaOfAlias(area.asString());
            if (n) {
                all.current = n;
                break;
            }
            rt::ErrorPtr e = rt::makeError(rt::EG_NOALIAS, 1002, upperTrim(area.asString()));
            e->CanRetry = true;
            if (rt::launchError(e).kind != rt::Recovery::Retry) break;
        }
    }
    return all.current;
}

std::string ALIAS(const rt::Value& area) {
    const std::int64_t n = numberArg(area, areas().current);
    if (n < 1 || n > kMaxAreas || !areas().slot[n]) return {};
    return areas().slot[n]->alias;
}

bool USED() {
    return current() != nullptr;
}

// ---- Open, create, close -------------------------------------------------------------------

bool NETERR(const rt::Value& flag) {
    return rt::NETERR(flag);
}

bool DBUSEAREA(const rt::Value& newArea, const rt::Value& driver, const rt::Value& file,
               const rt::Value& alias, const rt::Value& shared, const rt::Value& readOnly) {
    Areas& all = areas();
    rt::NETERR(false);
    NetErrOnFailure netErr;
    if (newArea.asLogical()) {
        const int free = lowestFree();
        if (!free) {
            commandError(rt::EG_LIMIT, 1009, "DBUSEAREA");
            return false;
        }
        all.current = free;
    } else {
        closeArea(all.current);
    }
    if (!file.isString() || upperTrim(file.asString()).empty()) {
        commandError(rt::EG_ARG, 1005, "DBUSEAREA");
        return false;
    }
    WorkAreaDriver* d = driverNamed(driver);
    if (!d) {
        commandError(rt::EG_ARG, 1015, "DBUSEAREA");
        return false;
    }
    std::unique_ptr<WorkArea> area = d->newArea();
    area->number = all.current;
    area->driver = d;
    OpenRequest request;
    request.table = file.asString();
    if (!hasExtension(request.table)) request.table += d->info(DriverInfo::kTableExt, nullptr);
    request.alias = alias.isString() && !upperTrim(alias.asString()).empty()
                        ? upperTrim(alias.asString())
                        : upperTrim(baseName(file.asString()));
    request.shared = shared.asLogical();
    request.readOnly = readOnly.asLogical();
    if (refusedAlias(request.alias) || areaOfAlias(request.alias) != 0) {
        commandError(rt::EG_DUPALIAS, 1011, request.alias);
        return false;
    }
    area->alias = request.alias;
    if (!d->open(*area, request)) return false;
    all.slot[all.current] = std::move(area);
    netErr.succeeded();
    return true;
}

bool DBCREATE(const rt::Value& file, const rt::Value& structure, const rt::Value& driver,
              const rt::Value& newArea, const rt::Value& alias) {
    if (!file.isString() || upperTrim(file.asString()).empty() || !structure.isArray()) {
        commandError(rt::EG_ARG, 1014, "DBCREATE");
        return false;
    }
    std::vector<FieldInfo> fields;
    for (const rt::Value& item : structure.asArray()->items) {
        const rt::ArrayPtr& def = item.asArray();
        if (!def || def->size() < 2 || !def->at(1).isString() || !def->at(2).isString() ||
            def->at(2).asString().empty()) {
            commandError(rt::EG_ARG, 1014, "DBCREATE");
            return false;
        }
        FieldInfo f;
        f.name = upperTrim(def->at(1).asString());
        f.type = upperTrim(def->at(2).asString())[0];
        const std::int64_t len = numberArg(def->at(3), 0);
        const std::int64_t dec = numberArg(def->at(4), 0);
        f.len = len < 0 || len > 0xFFFF ? 0 : static_cast<std::uint32_t>(len);
        f.dec = dec < 0 || dec > 0xFF ? 0 : static_cast<std::uint16_t>(dec);
        fields.push_back(std::move(f));
    }
    WorkAreaDriver* d = driverNamed(driver);
    if (!d) {
        commandError(rt::EG_ARG, 1015, "DBCREATE");
        return false;
    }
    std::string name = file.asString();
    if (!hasExtension(name)) name += d->info(DriverInfo::kTableExt, nullptr);
    {
        NetErrOnFailure netErr;
        if (!d->create(name, fields)) return false;
        netErr.succeeded();
    }
    if (newArea.asLogical()) return DBUSEAREA(true, driver, file, alias, false, false);
    return true;
}

void DBCLOSEAREA() {
    closeArea(areas().current);
}

void DBCLOSEALL() {
    for (int i = 1; i <= kMaxAreas; ++i) closeArea(i);
    areas().current = 1;
}

bool DELDBFMDX(const rt::Value& file) {
    if (!file.isString() || file.asString().empty()) return false;
    const std::string host = hostFileName(file.asString());
    std::FILE* f = host.empty() ? nullptr : std::fopen(host.c_str(), "r+b");
    if (!f) return false;
    bool ok = std::fseek(f, 28, SEEK_SET) == 0 && std::fputc(0, f) != EOF;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

void closeAllAreasAndExitDrivers() {
    Areas& all = areas();
    if (all.ended) return;
    all.ended = true;
    DBCLOSEALL();
    exitDrivers();
}

// ---- Position ------------------------------------------------------------------------------

std::int64_t RECNO() {
    WorkArea* a = current();
    std::uint32_t n = 0;
    if (a) a->driver->recordNumber(*a, n);
    return n;
}

std::int64_t RECCOUNT() {
    WorkArea* a = current();
    std::uint32_t n = 0;
    if (a) a->driver->recordCount(*a, n);
    return n;
}

std::int64_t LASTREC() {
    return RECCOUNT();
}

bool BOF() {
    WorkArea* a = current();
    return a ? a->bof : true;
}

bool EOF_() {
    WorkArea* a = current();
    return a ? a->eof : true;
}

bool FOUND() {
    WorkArea* a = current();
    return a ? a->found : false;
}

bool DELETED() {
    WorkArea* a = current();
    bool d = false;
    if (a) a->driver->deleted(*a, d);
    return d;
}

bool DBGOTO(const rt::Value& record) {
    WorkArea* a = need("DBGOTO");
    if (!a) return false;
    if (record.isNil()) {
        commandError(rt::EG_ARG, 1003, "DBGOTO");
        return false;
    }
    const bool ok = a->driver->goToId(*a, record);
    followRelations(*a);
    return ok;
}

bool DBGOTOP() {
    WorkArea* a = need("DBGOTOP");
    if (!a) return false;
    const bool ok = a->driver->goTop(*a);
    followRelations(*a);
    return ok;
}

bool DBGOBOTTOM() {
    WorkArea* a = need("DBGOBOTTOM");
    if (!a) return false;
    const bool ok = a->driver->goBottom(*a);
    followRelations(*a);
    return ok;
}

bool DBSKIP(const rt::Value& count) {
    WorkArea* a = need("DBSKIP");
    if (!a) return false;
    const bool ok = a->driver->skip(*a, numberArg(count, 1));
    followRelations(*a);
    return ok;
}

bool DBSEEK(const rt::Value& key, const rt::Value& soft, const rt::Value& last) {
    WorkArea* a = need("DBSEEK");
    if (!a) return false;
    a->driver->seek(*a, key, soft.asLogical(), last.asLogical());
    followRelations(*a);
    return a->found;
}

// ---- Records and fields --------------------------------------------------------------------

bool DBDELETE() {
    WorkArea* a = need("DBDELETE");
    return a && a->driver->deleteRecord(*a);
}

bool DBRECALL() {
    WorkArea* a = need("DBRECALL");
    return a && a->driver->recall(*a);
}

std::int64_t FCOUNT() {
    WorkArea* a = current();
    return a ? static_cast<std::int64_t>(a->fields.size()) : 0;
}

std::string FIELDNAME(const rt::Value& n) {
    WorkArea* a = current();
    const std::int64_t i = numberArg(n, 0);
    if (!a || i < 1 || i > static_cast<std::int64_t>(a->fields.size())) return {};
    return a->fields[i - 1].name;
}

std::int64_t FIELDPOS(const rt::Value& name) {
    WorkArea* a = current();
    if (!a || !name.isString()) return 0;
    const std::string wanted = upperTrim(name.asString());
    for (std::size_t i = 0; i < a->fields.size(); ++i)
        if (upperTrim(a->fields[i].name) == wanted) return static_cast<std::int64_t>(i + 1);
    return 0;
}

rt::Value FIELDGET(const rt::Value& n) {
    WorkArea* a = current();
    const std::int64_t i = numberArg(n, 0);
    rt::Value v;
    if (!a || i < 1 || i > static_cast<std::int64_t>(a->fields.size())) return v;
    if (!a->driver->getValue(*a, static_cast<std::uint32_t>(i), v)) return {};
    return v;
}

rt::Value FIELDPUT(const rt::Value& n, const rt::Value& value) {
    WorkArea* a = current();
    const std::int64_t i = numberArg(n, 0);
    if (!a || i < 1 || i > static_cast<std::int64_t>(a->fields.size())) return {};
    if (!a->driver->putValue(*a, static_cast<std::uint32_t>(i), value)) return {};
    return value;
}

bool DBAPPEND(const rt::Value&) {
    rt::NETERR(false);
    WorkArea* a = need("DBAPPEND");
    if (!a) return false;
    const bool ok = a->driver->append(*a);
    if (!ok) rt::NETERR(true);
    followRelations(*a);
    return ok;
}

bool DBCOMMIT() {
    WorkArea* a = need("DBCOMMIT");
    return a && a->driver->flush(*a);
}

// ---- Locks ---------------------------------------------------------------------------------

namespace {
bool lockRequest(std::string_view operation, std::optional<std::uint32_t> record, int method) {
    WorkArea* a = need(operation);
    if (!a) return false;
    LockInfo lock;
    lock.record = record;
    lock.method = method;
    a->driver->lock(*a, lock);
    return lock.result;
}
} // namespace

bool RLOCK() {
    return lockRequest("RLOCK", std::nullopt, LockInfo::kRecord);
}

bool FLOCK() {
    return lockRequest("FLOCK", std::nullopt, LockInfo::kTable);
}

bool DBRLOCK(const rt::Value& record) {
    if (!record.isNumber()) return lockRequest("DBRLOCK", std::nullopt, LockInfo::kRecord);
    const std::int64_t n = record.asInteger();
    return lockRequest("DBRLOCK", n < 0 ? 0u : static_cast<std::uint32_t>(n), LockInfo::kAddRecord);
}

bool DBUNLOCK() {
    WorkArea* a = need("DBUNLOCK");
    return a && a->driver->unlock(*a, std::nullopt);
}

// ---- Orders --------------------------------------------------------------------------------

bool DBSETORDER(const rt::Value& order) {
    WorkArea* a = need("DBSETORDER");
    if (!a) return false;
    rt::Value which = order;
    if (order.isString()) {
        const double n = std::atof(order.asString().c_str());
        if (n != 0) which = rt::Value(static_cast<std::int64_t>(n));
    } else if (!order.isNumber()) {
        which = rt::Value(0);
    }
    return a->driver->setOrder(*a, which);
}

std::int64_t INDEXORD() {
    WorkArea* a = current();
    std::uint16_t n = 0;
    if (a) a->driver->orderNumber(*a, n);
    return n;
}

namespace {
std::string orderText(OrderInfo what, const rt::Value& order) {
    WorkArea* a = current();
    if (!a) return {};
    const rt::Value which = order.isNumber() && order.asInteger() == 0 ? rt::Value() : order;
    std::string text;
    a->driver->orderInfo(*a, what, which, text);
    return text;
}
} // namespace

std::string INDEXKEY(const rt::Value& order) {
    return orderText(OrderInfo::kKey, order);
}

std::string ORDNAME(const rt::Value& order, const rt::Value&) {
    return orderText(OrderInfo::kName, order);
}

bool ORDCONDSET(const rt::Value& forText, const rt::Value&, const rt::Value& all, const rt::Value& whileBlock,
                const rt::Value&, const rt::Value&, const rt::Value&, const rt::Value& next,
                const rt::Value& record, const rt::Value& rest, const rt::Value& descend,
                const rt::Value& additive, const rt::Value& useCurrent, const rt::Value& custom,
                const rt::Value&) {
    WorkArea* a = need("ORDCONDSET");
    if (!a) return false;
    OrderCondition c;
    c.forText = forText.isString() ? forText.asString() : std::string();
    const bool scoped = !next.isNil() || !record.isNil() || rest.asLogical() || whileBlock.isBlock();
    c.all = all.asLogical() || !scoped;
    c.additive = additive.asLogical();
    c.useCurrent = useCurrent.asLogical();
    c.custom = custom.asLogical();
    c.descending = descend.asLogical();
    a->pendingCondition = c;
    return true;
}

namespace {
bool createOrder(std::string_view operation, const rt::Value& bag, const rt::Value& tag,
                 const rt::Value& keyText, const rt::Value& keyBlock, const rt::Value& unique) {
    WorkArea* a = need(operation);
    if (!a) return false;
    CreateOrderRequest request;
    request.bag =
        bag.isString() ? upperTrim(bag.asString()).empty() ? std::string() : bag.asString() : std::string();
    request.tag = tag.isString() ? upperTrim(tag.asString()) : std::string();
    request.key = keyText.isString() ? keyText.asString() : std::string();
    if ((request.bag.empty() && request.tag.empty()) || upperTrim(request.key).empty()) {
        commandError(rt::EG_ARG, 1006, operation);
        return false;
    }
    request.keyBlock = keyBlock;
    request.unique = unique.asLogical();
    return a->driver->orderCreate(*a, request);
}
} // namespace

bool ORDCREATE(const rt::Value& bag, const rt::Value& tag, const rt::Value& keyText,
               const rt::Value& keyBlock, const rt::Value& unique) {
    return createOrder("ORDCREATE", bag, tag, keyText, keyBlock, unique);
}

bool DBCREATEINDEX(const rt::Value& file, const rt::Value& keyText, const rt::Value& keyBlock,
                   const rt::Value& unique) {
    return createOrder("DBCREATEINDEX", file, {}, keyText, keyBlock, unique);
}

bool DBCLEARINDEX() {
    WorkArea* a = need("DBCLEARINDEX");
    return a && a->driver->orderListClear(*a);
}

bool ORDLISTADD(const rt::Value& bag, const rt::Value&) {
    WorkArea* a = need("ORDLISTADD");
    if (!a) return false;
    if (!bag.isString() || upperTrim(bag.asString()).empty()) {
        commandError(rt::EG_ARG, 1006, "ORDLISTADD");
        return false;
    }
    return a->driver->orderListAdd(*a, bag.asString());
}

std::string INDEXEXT() {
    if (WorkArea* a = current()) return a->driver->info(DriverInfo::kIndexExt, a);
    const Driver* d = findDriver(defaultDriverName());
    return d ? d->driver->info(DriverInfo::kIndexExt, nullptr) : std::string();
}

std::string RDDNAME() {
    WorkArea* a = need("RDDNAME");
    return a ? a->driver->name(a) : std::string();
}

// ---- Relations -----------------------------------------------------------------------------

bool DBSETRELATION(const rt::Value& child, const rt::Value& keyBlock, const rt::Value& keyText) {
    WorkArea* a = need("DBSETRELATION");
    if (!a) return false;
    const std::int64_t n = child.isString() ? areaOfAlias(child.asString()) : numberArg(child, 0);
    if (n < 1 || n > kMaxAreas || !areas().slot[n] || n == a->number) {
        commandError(rt::EG_NOALIAS, 1002, "DBSETRELATION");
        return false;
    }
    Relation rel;
    rel.child = static_cast<int>(n);
    rel.text = keyText.isString() ? keyText.asString() : std::string();
    rel.key = keyBlock;
    if (!rel.key.isBlock()) {
        if (rel.text.empty() || !areas().keyCompiler) {
            commandError(rt::EG_ARG, 1006, "DBSETRELATION");
            return false;
        }
        rel.key = areas().keyCompiler(rel.text);
        if (!rel.key.isBlock()) return false;
    }
    a->relations.push_back(std::move(rel));
    followRelations(*a);
    return true;
}

bool DBCLEARRELATION() {
    WorkArea* a = need("DBCLEARRELATION");
    if (!a) return false;
    a->relations.clear();
    return true;
}

std::int64_t DBRSELECT(const rt::Value& n) {
    WorkArea* a = current();
    const std::int64_t i = numberArg(n, 1);
    if (!a || i < 1 || i > static_cast<std::int64_t>(a->relations.size())) return 0;
    return a->relations[i - 1].child;
}

std::string DBRELATION(const rt::Value& n) {
    WorkArea* a = current();
    const std::int64_t i = numberArg(n, 1);
    if (!a || i < 1 || i > static_cast<std::int64_t>(a->relations.size())) return {};
    return a->relations[i - 1].text;
}

void setKeyCompiler(std::function<rt::Value(std::string_view)> compiler) {
    areas().keyCompiler = std::move(compiler);
}

void resetWorkAreas() {
    Areas& all = areas();
    DBCLOSEALL();
    all.ended = false;
}

} // namespace tables
