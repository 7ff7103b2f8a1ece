#include "engine/keys.h"

namespace engine {

bool validKeyType(char t) { return t == 'C' || t == 'N' || t == 'D' || t == 'L'; }
char keyFill(char t) { return t == 'C' ? ' ' : '\0'; }
std::string encodeKey(const ExprValue&, char, std::size_t) { return {}; }
std::string seekKey(const ExprValue&, char, std::size_t) { return {}; }
std::string encodeDouble(double) { return std::string(8, '\0'); }
double decodeDouble(std::string_view) { return 0; }
ExprValue decodeKey(std::string_view, char) { return {}; }
int compareKeys(std::string_view a, std::string_view b) { return a.compare(b); }

}  // namespace engine
