#include "system/paradox/Paradox.h"

#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"

namespace orl::Paradox {

QString ParadoxConnectionString(const QString& folderText) {
  return QStringLiteral("Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;DefaultDir=") +
         folderText + QStringLiteral(";Dbq=") + folderText + QStringLiteral(";CollatingSequence=ASCII;");
}

QString ScratchConnectionString(const QString& programFolder) {
  return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + programFolder +
         QStringLiteral("/dbTemp.mdb;JET OLEDB:Database Password=");
}

void RequireQuotableName(const QString& name, const QString& what) {
  if (name.isEmpty()) throw Error(ErrorNumber::InvalidCall, QStringLiteral("The %1 name is empty.").arg(what));
  for (const QChar c : name) {
    if (c == QLatin1Char('`') || c == QLatin1Char('[') || c == QLatin1Char(']') || c == QChar(0))
      throw Error(ErrorNumber::InvalidCall,
                  QStringLiteral("The %1 name \"%2\" holds the character \"%3\", which cannot be written in a "
                                 "statement; rename the %1 first.")
                      .arg(what, name, c == QChar(0) ? QStringLiteral("NUL") : QString(c)));
  }
}

namespace {

// The scratch database tells table names apart with letter case aside for
// ASCII letters only: "STRASSE" and "STRAßE" are two tables there.
bool SameScratchName(const QString& one, const QString& other) {
  if (one.size() != other.size()) return false;
  for (qsizetype k = 0; k < one.size(); ++k) {
    const char16_t a = one[k].unicode();
    const char16_t b = other[k].unicode();
    const auto folded = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; };
    if (folded(a) != folded(b)) return false;
  }
  return true;
}

}  // namespace

bool ScratchTableExists(const QString& table, const DataAccess& access) {
  ado::RecordSet schema;
  ado::Connection connection(access.seams);
  connection.open(ScratchConnectionString(access.programFolder));
  schema.openSchema(connection, ado::adSchemaTables);
  bool found = false;
  while (!schema.eof()) {
    if (schema.value(QStringLiteral("TABLE_TYPE")).toText() == QLatin1String("TABLE") &&
        SameScratchName(schema.value(QStringLiteral("TABLE_NAME")).toText(), table)) {
      found = true;
      break;
    }
    schema.moveNext();
  }
  schema.close();
  connection.close();
  return found;
}

QString AdoTypeName(std::int16_t type) {
  switch (type) {
    case 0: return QStringLiteral("adEmpty");
    case 2: return QStringLiteral("adSmallInt");
    case 3: return QStringLiteral("adInteger");
    case 4: return QStringLiteral("adSingle");
    case 5: return QStringLiteral("adDouble");
    case 6: return QStringLiteral("adCurrency");
    case 7: return QStringLiteral("adDate");
    case 8: return QStringLiteral("adBSTR");
    case 9: return QStringLiteral("adIDispatch");
    case 10: return QStringLiteral("adError");
    case 11: return QStringLiteral("adBoolean");
    case 12: return QStringLiteral("adVariant");
    case 13: return QStringLiteral("adIUnknown");
    case 14: return QStringLiteral("adDecimal");
    case 16: return QStringLiteral("adTinyInt");
    case 17: return QStringLiteral("adUnsignedTinyInt");
    case 18: return QStringLiteral("adUnsignedSmallInt");
    case 19: return QStringLiteral("adUnsignedInt");
    case 20: return QStringLiteral("adBigInt");
    case 21: return QStringLiteral("adUnsignedBigInt");
    case 64: return QStringLiteral("adFileTime");
    case 72: return QStringLiteral("adGUID");
    case 128: return QStringLiteral("adBinary");
    case 129: return QStringLiteral("adChar");
    case 130: return QStringLiteral("adWChar");
    case 131: return QStringLiteral("adNumeric");
    case 132: return QStringLiteral("adUserDefined");
    case 133: return QStringLiteral("adDBDate");
    case 134: return QStringLiteral("adDBTime");
    case 135: return QStringLiteral("adDBTimeStamp");
    case 136: return QStringLiteral("adChapter");
    case 138: return QStringLiteral("adPropVariant");
    case 139: return QStringLiteral("adVarNumeric");
    case 200: return QStringLiteral("adVarChar");
    case 201: return QStringLiteral("adLongVarChar");
    case 202: return QStringLiteral("adVarWChar");
    case 203: return QStringLiteral("adLongVarWChar");
    case 204: return QStringLiteral("adVarBinary");
    case 205: return QStringLiteral("adLongVarBinary");
    default: return QString();
  }
}

QString ScratchColumnPiece(const QString& lowerTypeName) {
  // The first fragment found anywhere in the name decides.
  static const std::pair<const char*, const char*> Rules[] = {
      {"adlongvarbinary", "` OLEOBJECT,"}, {"longvar", "` MEMO,"},      {"char", "` TEXT,"},
      {"decimal", "` DECIMAL,"},           {"single", "` INT,"},        {"int", "` INT,"},
      {"numeric", "` INT,"},               {"date", "` DATETIME,"},     {"timestamp", "` DATETIME,"},
      {"double", "` FLOAT,"},
  };
  for (const auto& [fragment, piece] : Rules)
    if (lowerTypeName.contains(QLatin1String(fragment))) return QLatin1String(piece);
  return QStringLiteral("` TEXT,");
}

}  // namespace orl::Paradox
