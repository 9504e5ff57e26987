#include "online/portal_base.h"

#include "online/http.h"

bool ParsePortalBase(const std::string& text, std::string& base, std::string& why) {
  const std::string scheme = "http://";
  if (text.size() < scheme.size() || [&] {
        for (size_t i = 0; i < scheme.size(); i++)
          if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return true;
        return false;
      }()) {
    why = "only http:// addresses are accepted";
    return false;
  }
  if (text.size() > 200) {
    why = "the address is too long";
    return false;
  }
  if (text.find_first_of("?#") != std::string::npos) {
    why = "the address cannot have a query or a fragment";
    return false;
  }
  try {
    ParseHttpUrl(text);
  } catch (const EHttpError& e) {
    why = e.what();
    return false;
  }
  base = scheme + text.substr(scheme.size());
  while (base.size() > scheme.size() && base.back() == '/') base.pop_back();
  return true;
}

std::string ChoosePortalBase(const std::vector<TPortalSource>& sources, std::string& message) {
  message.clear();
  for (const TPortalSource& s : sources) {
    if (!s.Value) continue;
    std::string base, why;
    if (ParsePortalBase(*s.Value, base, why)) return base;
    message = "Ignoring the portal address \"" + *s.Value + "\" from " + s.Where + ": " + why +
              " (like http://HOST:PORT); using " + kDefaultPortalBase + ".";
    return kDefaultPortalBase;
  }
  return kDefaultPortalBase;
}
