#include "report_text.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "arrays.h"
#include "dialog.h"
#include "failure.h"

namespace vbgreport {
namespace {

// A value longer than this is cut, so that one value cannot bury the others.
constexpr size_t kLongestText = 200;
constexpr wchar_t kEllipsis[] = L"\u2026";
// What follows the first kMostShownElements elements of a longer list.
constexpr wchar_t kMoreElements[] = L"...";

std::wstring cutShort(std::wstring_view text) {
  if (text.size() <= kLongestText) return std::wstring(text);
  return std::wstring(text.substr(0, kLongestText)) + kEllipsis;
}

std::wstring localDateTime(DATE date) {
  SYSTEMTIME time{};
  if (!VariantTimeToSystemTime(date, &time)) return L"?";
  wchar_t day[64] = L"", clock[64] = L"";
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, day, 64);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 64);
  return std::wstring(day) + L" " + clock;
}

// The class name an object gives through its type information, if it has any.
std::wstring objectName(IUnknown* object) {
  if (!object) return L"Nothing";
  if (isOwnDialog(object)) return L"<myCustomDialog>";
  const com_ptr<IDispatch> dispatch = com_ptr<IUnknown>::borrow(object).query<IDispatch>();
  com_ptr<ITypeInfo> info;
  unique_bstr name;
  if (dispatch && SUCCEEDED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) && info &&
      SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)) && name.get())
    return L"<" + std::wstring(viewOf(name.get())) + L">";
  return L"<Object>";
}

std::wstring scalarText(const VARIANT& value, bool quoteText) {
  switch (V_VT(&value)) {
    case VT_EMPTY: return L"Empty";
    case VT_NULL: return L"Null";
    case VT_BOOL: return V_BOOL(&value) ? L"True" : L"False";
    case VT_DATE: return localDateTime(V_DATE(&value));
    case VT_DISPATCH: return objectName(V_DISPATCH(&value));
    case VT_UNKNOWN: return objectName(V_UNKNOWN(&value));
    case VT_ERROR:
      return V_ERROR(&value) == DISP_E_PARAMNOTFOUND ? L"Missing" : L"Error " + std::to_wstring(V_ERROR(&value));
    case VT_BSTR: {
      const std::wstring text = cutShort({V_BSTR(&value) ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value))});
      if (!quoteText) return text;
      std::wstring quoted = L"\"";
      for (wchar_t c : text) quoted += c == L'"' ? L"\"\"" : std::wstring(1, c);
      return quoted + L"\"";
    }
    default: {
      unique_variant text;
      if (FAILED(VariantChangeTypeEx(text.put(), const_cast<VARIANT*>(&value), LOCALE_USER_DEFAULT, 0, VT_BSTR))) return L"?";
      return std::wstring(V_BSTR(text.get()), SysStringLen(V_BSTR(text.get())));
    }
  }
}

std::wstring dimensionText(SAFEARRAY* array, VARTYPE elementType, const std::vector<Bounds>& bounds,
                           std::vector<LONG>& indices, size_t dimension) {
  std::wstring text = L"[";
  const Bounds& range = bounds[dimension];
  for (ULONG i = 0; i < range.count; ++i) {
    if (i) text += L", ";
    if (i == kMostShownElements) {
      text += kMoreElements;
      break;
    }
    indices[dimension] = static_cast<LONG>(range.lower + static_cast<long long>(i));
    if (dimension + 1 < bounds.size())
      text += dimensionText(array, elementType, bounds, indices, dimension + 1);
    else
      text += displayValue(*elementAt(array, elementType, indices).get(), true);
  }
  return text + L"]";
}

std::wstring arrayText(const VARIANT& value) {
  SAFEARRAY* array = arrayOf(value);
  if (!array) return L"(non allocato)";
  const std::vector<Bounds> bounds = boundsOf(array);
  if (bounds.empty()) return L"[]";
  std::vector<LONG> indices(bounds.size());
  return dimensionText(array, V_VT(&referencedValue(value)) & VT_TYPEMASK, bounds, indices, 0);
}

// The first kMostShownElements elements of a one-dimensional list, whatever its lower bound;
// empty when never allocated. `more` tells whether the list goes on.
std::vector<unique_variant> listElements(const VARIANT& list, bool* more = nullptr) {
  std::vector<unique_variant> elements;
  if (more) *more = false;
  SAFEARRAY* array = arrayOf(list);
  if (!array || SafeArrayGetDim(array) != 1) return elements;
  const Bounds range = boundsOf(array)[0];
  const VARTYPE elementType = V_VT(&referencedValue(list)) & VT_TYPEMASK;
  const ULONG shown = std::min(range.count, kMostShownElements);
  for (ULONG i = 0; i < shown; ++i)
    elements.push_back(elementAt(array, elementType, {static_cast<LONG>(range.lower + static_cast<long long>(i))}));
  if (more) *more = range.count > shown;
  return elements;
}

std::wstring trimmedLabel(const VARIANT& label) {
  std::wstring text = displayValue(label, false);
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

void appendVariableList(std::wstring& text, const wchar_t* heading, const VARIANT* list) {
  text += heading;
  text += L":\n";
  if (!list) {
    text += L"    (non ricevute)\n";
    return;
  }
  bool more = false;
  const std::vector<unique_variant> elements = listElements(*list, &more);
  if (elements.empty()) {
    text += L"    " + displayValue(*list, true) + L"\n";
  } else if (elements.size() == 1) {
    // A list with nothing to list holds one text alone ("Empty").
    text += L"    " + displayValue(*elements[0].get(), false) + L"\n";
  } else {
    for (size_t i = 0; i < elements.size(); i += 2) {
      text += L"    " + displayValue(*elements[i].get(), false);
      if (i + 1 < elements.size()) text += L" = " + displayValue(*elements[i + 1].get(), true);
      text += L"\n";
    }
  }
  if (more) text += std::wstring(L"    ") + kMoreElements + L"\n";
}

}  // namespace

std::wstring displayValue(const VARIANT& value, bool quoteText) {
  const VARIANT& held = referencedValue(value);
  if (V_VT(&held) & VT_ARRAY) return arrayText(held);
  if (V_VT(&held) & VT_BYREF) {
    if (!V_BYREF(&held)) return L"?";
    return scalarText(*copyOf(held).get(), quoteText);
  }
  return scalarText(held, quoteText);
}

std::wstring reportText(const ReportContent& content) {
  std::wstring text = L"Si \u00e8 verificato un errore";
  if (!content.appTitle.empty()) text += L" in " + content.appTitle;
  text += L".\n\n";

  bool more = false;
  const std::vector<unique_variant> pairs = listElements(content.description, &more);
  for (size_t i = 0; i < pairs.size(); i += 2) {
    text += trimmedLabel(*pairs[i].get());
    if (i + 1 < pairs.size()) text += L": " + displayValue(*pairs[i + 1].get(), false);
    text += L"\n";
  }
  if (more) text += std::wstring(kMoreElements) + L"\n";

  text += L"\nApplicazione: " + content.appTitle + L"\nPercorso: " + content.appPath + L"\n";

  static constexpr const wchar_t* kUserLabels[] = {L"Famiglia", L"Assistenza", L"Sviluppatore", L"Produttore"};
  const std::vector<unique_variant> user = listElements(content.userData, &more);
  for (size_t i = 0; i < user.size(); ++i) {
    text += i < 4 ? kUserLabels[i] : L"Altro";
    text += L": " + displayValue(*user[i].get(), false) + L"\n";
  }
  if (more) text += std::wstring(kMoreElements) + L"\n";

  static constexpr const wchar_t* kListHeadings[] = {L"Parametri", L"Variabili locali", L"Variabili del modulo",
                                                     L"Variabili globali"};
  for (size_t i = 0; i < 4; ++i) {
    text += L"\n";
    appendVariableList(text, kListHeadings[i], content.variableLists[i]);
  }

  text += L"\nInterrompi: passa l'errore alla routine chiamante.\n"
          L"Riprova: esegue di nuovo l'istruzione.\n"
          L"Ignora: salta l'istruzione e prosegue.";
  return text;
}

std::wstring reportCaption(const std::wstring& appTitle) {
  return appTitle.empty() ? L"Segnalazione errore" : appTitle + L" - Segnalazione errore";
}

}  // namespace vbgreport
