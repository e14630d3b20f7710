#include "engine/errors.hpp"

namespace zantrel {

ComError MakeComError(HResult code, const std::wstring& description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return ComError(code);
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  return ComError(code, info);  // takes over the reference
}

void ThrowComError(HResult code, IUnknown* object, REFIID iid) {
  IErrorInfo* info = nullptr;
  ISupportErrorInfo* support = nullptr;
  if (object != nullptr &&
      SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
    if (support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, &info) != S_OK) info = nullptr;
    support->Release();
  }
  throw ComError(code, info);
}

std::vector<std::wstring> ComErrorReport(const ComError& error) {
  std::vector<std::wstring> lines;
  const wchar_t* message = error.ErrorMessage();
  if (message != nullptr && *message != L'\0') lines.emplace_back(message);
  // The description line exists whenever the error has an error object.
  if (IErrorInfo* info = error.ErrorInfo()) {
    BSTR text = nullptr;
    info->GetDescription(&text);
    lines.emplace_back(text == nullptr ? L"" : text);
    SysFreeString(text);
    info->Release();
  }
  return lines;
}

}  // namespace zantrel
