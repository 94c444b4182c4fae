// The shared base failure type: every failure the program reports carries a UTF-16 message.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::wstring message);
  ~Exception() override;

  const std::wstring& Message() const { return FMessage; }
  // The message in UTF-8 (unpaired surrogates become U+FFFD).
  const char* what() const noexcept override { return FWhat.c_str(); }

private:
  std::wstring FMessage;
  std::string FWhat;
};

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string WideToUtf8(const std::wstring& text);
