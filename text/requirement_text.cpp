#include "text/requirement_text.h"
#include "text/fields.h"

std::string read_requirement(const std::string &text, int layers,
                             requirement &rule) {
  rule = {0, 0};
  unsigned long long number = 0;
  const auto most = static_cast<unsigned long long>(layers);
  if (text == "all") {
    rule.needed = (1U << layers) - 1;
  } else if (text.find('+') == text.npos) {
    if (!read_whole(text, layers_max, number) || number < 2) {
      return "requirement " + shown(text) +
             " is not all, a number of layers from 2 to " +
             std::to_string(layers_max) + ", or layers joined by +, as 1+3";
    }
    rule.at_least = static_cast<int>(number);
  } else {
    for (const std::string &part : split(text, '+')) {
      if (!read_whole(part, layers_max, number) || number < 1 ||
          (rule.needed & (1U << (number - 1))) != 0) {
        return "requirement " + shown(text) +
               " is not two or more different layer numbers joined by +, "
               "as 1+3";
      }
      rule.needed |= 1U << (number - 1);
    }
  }
  if (number > most || rule.needed >= 1U << layers) {
    return "requirement " + shown(text) + " asks for more than the " +
           std::to_string(layers) + " layers of the telescope";
  }
  return "";
}
