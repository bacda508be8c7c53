#pragma once

#include <QString>

// The program's identity, as its version information declares it.
namespace Program {
inline const QString Title = QStringLiteral("TALVIRO Velantor");
inline const QString ProductName = QStringLiteral("Velantor");
inline const QString CompanyName = QStringLiteral("Brenholt EDV-Beratung");
constexpr int VersionMajor = 5;
constexpr int VersionMinor = 2;
constexpr int VersionRevision = 16;

// The maker's support contact, appended to every error box.
inline const QString MakerName = QStringLiteral("TALVIRO Modellbahnlösungen");
inline const QString SupportPhone = QStringLiteral("+49 (0)0000 555 01 23");
inline const QString SupportFax = QStringLiteral("+49 (0)0000 555 01 29");
inline const QString SupportEmail = QStringLiteral("support@talviro.example");
inline const QString WebAddress = QStringLiteral("https://www.talviro.example");
} // namespace Program

// A line break in the program's texts: carriage return and line feed.
inline const QString CrLf = QStringLiteral("\r\n");
