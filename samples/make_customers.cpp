// make_customers OUT.dbf: writes the sample customer table that ./run.sh and
// the viewer open first. It is meant to look like a small firm's customer
// list and to show every common field kind: text with accented letters and
// with the commas and quotes CSV must escape, whole and decimal numbers
// (negative ones too), dates and logicals with some left blank, and a few
// deleted records.
//
// The output depends only on the seed, apart from the last-update date in the
// header, so the committed samples/customers.dbf can be regenerated and
// compared.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "bench/gen_random.h"
#include "bench/table_writer.h"

namespace norvale::gen {
namespace {

constexpr uint64_t kSeed = 0x4E6F7276616C65ull;
constexpr int kCustomers = 1000;

struct TCountry {
  const char* name;
  int weight;  // share of the customers, in percent
  const char* dialCode;
  const char* const* firstNames;
  int firstCount;
  const char* const* lastNames;
  int lastCount;
  const char* const* cities;
  int cityCount;
  const char* const* streets;
  int streetCount;
  enum { kFiveDigits, kFourDigits, kBritish } postcode;
  bool numberFirst;  // "12 High Street" rather than "Hauptstraße 12"
};

#define LIST(a) a, static_cast<int>(sizeof a / sizeof *a)

const char* const kUsFirst[] = {"James", "Mary", "Robert", "Patricia", "John", "Jennifer", "Michael", "Linda",
                                "David", "Susan", "Karen", "Daniel", "Nancy", "Paul", "Lisa", "Mark"};
const char* const kUsLast[] = {"Smith", "Johnson", "Williams", "Brown", "Jones", "Miller", "Davis", "Wilson",
                               "Anderson", "Taylor", "Thomas", "Moore", "Jackson", "White", "Harris", "Clark"};
const char* const kUsCities[] = {"Chicago", "Boston", "Portland", "Austin", "Denver", "Seattle", "Milwaukee",
                                 "Baltimore", "Sacramento", "Columbus"};
const char* const kUsStreets[] = {"Oak Street", "Maple Avenue", "Washington Blvd", "Lake Drive", "Pine Road",
                                  "Elm Street", "Main Street", "Cedar Lane"};

const char* const kUkFirst[] = {"Oliver", "Amelia", "Harry", "Isla", "George", "Emily", "Jack", "Sophie",
                                "Thomas", "Charlotte", "William", "Grace"};
const char* const kUkLast[] = {"Walker", "Wright", "Robinson", "Thompson", "Hughes", "Edwards", "Green", "Hall",
                               "Wood", "Turner", "Cooper", "O'Brien"};
const char* const kUkCities[] = {"London", "Leeds", "Bristol", "Manchester", "Norwich", "York", "Cardiff"};
const char* const kUkAreas[] = {"SW", "LS", "BS", "M", "NR", "YO", "CF"};  // postcode area of each city
const char* const kUkStreets[] = {"High Street", "Station Road", "Church Lane", "Victoria Road", "Mill Lane",
                                  "Queen Street"};

const char* const kDeFirst[] = {"Jürgen", "Anna", "Stefan", "Käthe", "Michael", "Sabine", "Thomas", "Monika",
                                "Andreas", "Birgit", "Uwe", "Jörg", "Claudia", "Frank"};
const char* const kDeLast[] = {"Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer", "Wagner",
                               "Becker", "Schäfer", "Koch", "Krüger", "Hoffmann", "Böhm", "Weiß"};
const char* const kDeCities[] = {"Berlin", "München", "Köln", "Hamburg", "Düsseldorf", "Leipzig", "Nürnberg",
                                 "Frankfurt am Main"};
const char* const kDeStreets[] = {"Hauptstraße", "Bahnhofstraße", "Gartenweg", "Schillerstraße", "Am Markt",
                                  "Lindenallee"};

const char* const kFrFirst[] = {"Marie", "Jean", "Camille", "Pierre", "Chloé", "François", "Élodie", "Luc",
                                "Hélène", "Jérôme", "Inès", "Nicolas"};
const char* const kFrLast[] = {"Martin", "Bernard", "Dubois", "Lefèvre", "Moreau", "Laurent", "Girard",
                               "Rousseau", "Fournier", "Mercier", "Garçon"};
const char* const kFrCities[] = {"Paris", "Lyon", "Orléans", "Nantes", "Bordeaux", "Besançon", "Toulouse"};
const char* const kFrStreets[] = {"rue de la Paix", "avenue Victor Hugo", "boulevard Saint-Michel",
                                  "rue des Écoles", "place du Marché"};

const char* const kEsFirst[] = {"José", "María", "Antonio", "Lucía", "Javier", "Carmen", "Raúl", "Begoña",
                                "Sergio", "Ángela", "Iñaki"};
const char* const kEsLast[] = {"García", "Fernández", "López", "Martínez", "Sánchez", "Pérez", "Gómez",
                               "Núñez", "Peña", "Muñoz", "Ibáñez"};
const char* const kEsCities[] = {"Madrid", "Sevilla", "Málaga", "Valencia", "A Coruña", "Córdoba", "Bilbao"};
const char* const kEsStreets[] = {"Calle Mayor", "Avenida de España", "Calle del Sol", "Paseo de la Castellana",
                                  "Plaza Nueva"};

const char* const kChFirst[] = {"Lukas", "Léa", "Noah", "Mia", "Reto", "Ursula", "Beat", "Zoë"};
const char* const kChLast[] = {"Meier", "Keller", "Gerber", "Brunner", "Baumann", "Frei", "Zürcher", "Hürlimann"};
const char* const kChCities[] = {"Zürich", "Genève", "Bern", "Basel", "Lausanne", "Luzern"};
const char* const kChStreets[] = {"Bahnhofstrasse", "Seestrasse", "Rue du Rhône", "Dorfstrasse"};

const char* const kAtFirst[] = {"Florian", "Katharina", "Günther", "Theresa", "Matthias", "Lena", "Herbert"};
const char* const kAtLast[] = {"Gruber", "Huber", "Bauer", "Pichler", "Moser", "Steiner", "Hofer", "Pöll"};
const char* const kAtCities[] = {"Wien", "Graz", "Linz", "Salzburg", "Innsbruck", "Klagenfurt"};
const char* const kAtStreets[] = {"Mariahilfer Straße", "Landstraße", "Kärntner Straße", "Herrengasse"};

const TCountry kCountries[] = {
    {"United States", 35, "+1", LIST(kUsFirst), LIST(kUsLast), LIST(kUsCities), LIST(kUsStreets),
     TCountry::kFiveDigits, true},
    {"United Kingdom", 15, "+44", LIST(kUkFirst), LIST(kUkLast), LIST(kUkCities), LIST(kUkStreets),
     TCountry::kBritish, true},
    {"Germany", 15, "+49", LIST(kDeFirst), LIST(kDeLast), LIST(kDeCities), LIST(kDeStreets),
     TCountry::kFiveDigits, false},
    {"France", 12, "+33", LIST(kFrFirst), LIST(kFrLast), LIST(kFrCities), LIST(kFrStreets),
     TCountry::kFiveDigits, true},
    {"Spain", 10, "+34", LIST(kEsFirst), LIST(kEsLast), LIST(kEsCities), LIST(kEsStreets),
     TCountry::kFiveDigits, false},
    {"Switzerland", 6, "+41", LIST(kChFirst), LIST(kChLast), LIST(kChCities), LIST(kChStreets),
     TCountry::kFourDigits, false},
    {"Austria", 7, "+43", LIST(kAtFirst), LIST(kAtLast), LIST(kAtCities), LIST(kAtStreets),
     TCountry::kFourDigits, false},
};

const char* const kCompanies[] = {
    "Northwind Traders",     "Blue Harbor Supply Co.", "Müller & Söhne GmbH", "Café Lumière SARL",
    "Hernández Logística",   "Pine Ridge Hardware",    "Alpenblick AG",       "Redfern & Hale Ltd",
    "Brasserie du Coin",     "Keystone Office Supply", "Gruber Bau GmbH",     "Lakeside Garden Center",
    "Iberia Frutas S.L.",    "Tandem Cycles, Inc.",    "Weiß Elektro KG",     "Summit Outdoor Gear"};

// Notes are mostly empty; the ones present include the commas and quotes a
// CSV export has to escape.
const char* const kNotes[] = {"Prefers e-mail contact",     "Call before 10, not after 6",
                              "Deliver to \"Lager 2\"",     "Pays by direct debit",
                              "Invoice in EUR",             "Closed in August",
                              "Key account, see contract",  "Ask for Mr. O'Neil",
                              "Rückruf erwünscht",          "Ne pas livrer le samedi"};

const char* const kMailDomains[] = {"example.com", "example.net", "example.org", "mail.example"};

const TCountry& PickCountry(TRandom& rng) {
  int roll = rng.Between(1, 100);
  for (const TCountry& c : kCountries) {
    if (roll <= c.weight) return c;
    roll -= c.weight;
  }
  return kCountries[0];
}

// Plain ASCII lower-case letters for e-mail addresses, from code-page bytes.
std::string MailPart(const std::string& cp1252) {
  // Folding of U+00C0..U+00FF to the letter under the accent ('_' = drop).
  static constexpr char kFold[] = "aaaaaaaceeeeiiiidnooooo_ouuuuy_saaaaaaaceeeeiiiidnooooo_ouuuuy_y";
  static_assert(sizeof kFold == 64 + 1);
  std::string out;
  for (unsigned char c : cp1252) {
    if (c >= 0xC0) {
      if (c == 0xDF) {
        out += "ss";
      } else if (kFold[c - 0xC0] != '_') {
        out += kFold[c - 0xC0];
      }
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c | 0x20);
    }
  }
  return out;
}

std::string Digits(TRandom& rng, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>('0' + rng.Below(10));
  return s;
}

std::string Postcode(TRandom& rng, const TCountry& country, int city) {
  switch (country.postcode) {
    case TCountry::kFiveDigits: return std::to_string(rng.Between(10000, 99999));
    case TCountry::kFourDigits: return std::to_string(rng.Between(1000, 9999));
    case TCountry::kBritish: {
      std::string s = kUkAreas[city];
      s += std::to_string(rng.Between(1, 20));
      s += ' ';
      s += std::to_string(rng.Between(1, 9));
      s += static_cast<char>('A' + rng.Below(26));
      s += static_cast<char>('A' + rng.Below(26));
      return s;
    }
  }
  return {};
}

void Generate(const std::string& path) {
  TTableWriter table(path, {
                               {"CUSTNO", 'N', 6},
                               {"FIRSTNAME", 'C', 15},
                               {"LASTNAME", 'C', 20},
                               {"COMPANY", 'C', 30},
                               {"STREET", 'C', 30},
                               {"CITY", 'C', 20},
                               {"ZIP", 'C', 8},
                               {"COUNTRY", 'C', 14},
                               {"EMAIL", 'C', 40},
                               {"PHONE", 'C', 18},
                               {"SINCE", 'D', 8},
                               {"BIRTHDAY", 'D', 8},
                               {"CREDIT", 'N', 10, 2},
                               {"BALANCE", 'N', 11, 2},
                               {"DISCOUNT", 'N', 4, 1},
                               {"ORDERS", 'N', 5},
                               {"ACTIVE", 'L', 1},
                               {"NOTE", 'C', 40},
                           });
  enum { kCustNo, kFirst, kLast, kCompany, kStreet, kCity, kZip, kCountry, kEmail, kPhone, kSince, kBirthday,
         kCredit, kBalance, kDiscount, kOrders, kActive, kNote };

  TRandom rng(kSeed);
  for (int i = 0; i < kCustomers; ++i) {
    const TCountry& country = PickCountry(rng);
    const std::string first = Cp1252FromUtf8(country.firstNames[rng.Below(country.firstCount)]);
    const std::string last = Cp1252FromUtf8(country.lastNames[rng.Below(country.lastCount)]);
    const bool deleted = rng.Chance(2);

    table.BeginRecord(deleted);
    table.SetInteger(kCustNo, 10001 + i);
    table.SetText(kFirst, first);
    table.SetText(kLast, last);
    if (rng.Chance(35)) table.SetText(kCompany, Cp1252FromUtf8(rng.Pick(kCompanies)));

    const std::string street = Cp1252FromUtf8(country.streets[rng.Below(country.streetCount)]);
    const std::string number = std::to_string(rng.Between(1, country.numberFirst ? 4999 : 120));
    table.SetText(kStreet, country.numberFirst ? number + " " + street : street + " " + number);
    const int city = static_cast<int>(rng.Below(country.cityCount));
    table.SetText(kCity, Cp1252FromUtf8(country.cities[city]));
    table.SetText(kZip, Postcode(rng, country, city));
    table.SetText(kCountry, country.name);

    if (!rng.Chance(4)) {
      std::string mail = MailPart(first) + (rng.Chance(50) ? "." : "_") + MailPart(last);
      if (rng.Chance(20)) mail += std::to_string(rng.Between(1, 99));
      table.SetText(kEmail, mail + "@" + rng.Pick(kMailDomains));
    }
    // One draw per statement: the order in which operands of + are evaluated
    // is unspecified, and the table must not depend on the compiler.
    std::string phone = country.dialCode;
    for (int digits : {3, 3, 4}) {
      phone += ' ';
      phone += Digits(rng, digits);
    }
    table.SetText(kPhone, phone);

    const int sinceYear = rng.Between(1995, 2024);
    const int sinceMonth = rng.Between(1, 12);
    table.SetDate(kSince, sinceYear, sinceMonth, rng.Between(1, DaysInMonth(sinceYear, sinceMonth)));
    if (!rng.Chance(15)) {
      const int year = rng.Between(1940, 2004);
      const int month = rng.Between(1, 12);
      table.SetDate(kBirthday, year, month, rng.Between(1, DaysInMonth(year, month)));
    }

    // Credit limits come in steps of 250; balances are mostly below the
    // limit and sometimes negative (credit notes outstanding).
    const int64_t creditCents = int64_t(rng.Between(2, 200)) * 25000;
    table.SetScaled(kCredit, creditCents);
    int64_t balanceCents = int64_t(rng.Below(static_cast<uint32_t>(creditCents / 100 + 1))) * 100;
    balanceCents += rng.Below(100);
    if (rng.Chance(8)) balanceCents = -int64_t(rng.Between(1, 150000));
    table.SetScaled(kBalance, balanceCents);
    if (!rng.Chance(10)) table.SetScaled(kDiscount, int64_t(rng.Below(31)) * 5);
    table.SetInteger(kOrders, rng.Below(4) == 0 ? 0 : rng.Between(1, 480));
    if (!rng.Chance(3)) table.SetLogical(kActive, !rng.Chance(15));
    if (rng.Chance(12)) table.SetText(kNote, Cp1252FromUtf8(rng.Pick(kNotes)));
    table.EndRecord();
  }
  table.Finish();
}

}  // namespace
}  // namespace norvale::gen

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_customers OUT.dbf\n");
    return 2;
  }
  try {
    norvale::gen::Generate(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_customers: %s\n", e.what());
    return 1;
  }
  return 0;
}
