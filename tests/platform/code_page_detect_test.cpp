// Detecting the code page of a table's text from its stored values.
#include "platform/code_page_detect.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text_services.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using TValues = std::vector<std::string_view>;

// Names, streets, cities, companies and short descriptions, as a table of
// customers or goods holds them.
const TValues kRussian = {
    "Иванов Иван Петрович", "Смирнова Ольга Викторовна", "Кузнецов Алексей Сергеевич",
    "Попова Наталья Андреевна", "Соколов Дмитрий Николаевич", "Лебедева Екатерина Юрьевна",
    "Козлов Михаил Александрович", "Новикова Татьяна Ивановна", "Морозов Сергей Владимирович",
    "Волкова Анна Михайловна", "ул. Ленина, д. 15, кв. 42", "пр. Мира, д. 101", "ул. Садовая, д. 7/2",
    "Невский проспект, д. 28", "ул. Гагарина, д. 3, корп. 1", "пер. Кривоколенный, д. 9", "Москва",
    "Санкт-Петербург", "Новосибирск", "Екатеринбург", "Нижний Новгород", "Казань", "Челябинск",
    "Ростов-на-Дону", "ООО \"Ромашка\"", "ЗАО \"Северный ветер\"", "ИП Щукин Ю.Ф.", "ОАО \"Уралмашзавод\"",
    "Хлебозавод №3", "Поставка офисной мебели", "Ремонт холодильного оборудования",
    "Оплата по счёту № 1245 от 12.03.1998", "Молоко пастеризованное 3,2%", "Сахар-песок, мешок 50 кг",
    "Бухгалтерия, отдел кадров", "Жилищно-эксплуатационная контора",
};
const TValues kUkrainian = {
    "Шевченко Тарас Григорович", "Коваленко Олена Іванівна", "Бондаренко Петро Миколайович",
    "Ткаченко Юлія Василівна", "Кравченко Андрій Олексійович", "Олійник Марія Степанівна",
    "Шевчук Ігор Володимирович", "Поліщук Світлана Федорівна", "Мельник Євген Богданович",
    "Гнатюк Ярослава Ігорівна", "вул. Хрещатик, буд. 22", "вул. Шевченка, 14, кв. 5", "просп. Перемоги, 37",
    "вул. Грушевського, 9а", "майдан Незалежності, 1", "Київ", "Львів", "Харків", "Одеса", "Дніпро",
    "Запоріжжя", "Івано-Франківськ", "Житомир", "ТОВ \"Світанок\"", "ПрАТ \"Київстар\"",
    "ФОП Ґудзь Олег Юрійович", "Приватне підприємство \"Ялинка\"", "Державна податкова інспекція",
    "Постачання будівельних матеріалів", "Ремонт побутової техніки", "Оплата згідно з рахунком № 77",
    "Насіння соняшнику, 25 кг", "Їдальня на першому поверсі", "Загальноосвітня школа І-ІІІ ступенів",
};
const TValues kBulgarian = {
    "Иванов Георгиев Петров", "Димитрова Мария Стоянова", "Николов Христо Атанасов", "Георгиева Елена Тодорова",
    "Стоянов Стефан Василев", "Костадинова Десислава Иванова", "Петков Йордан Илиев",
    "Ангелова Цветелина Маринова", "Христов Борислав Красимиров", "Попова Радостина Любенова",
    "ул. \"Граф Игнатиев\" № 12", "бул. \"Витоша\" № 45", "ул. \"Шипка\" № 3, ет. 2",
    "бул. \"Цар Освободител\" № 15", "жк. \"Младост\" бл. 214, вх. Б", "София", "Пловдив", "Варна", "Бургас",
    "Русе", "Стара Загора", "Велико Търново", "Благоевград", "ЕООД \"Слънчев бряг\"", "АД \"Български пощи\"",
    "ООД \"Зелена долина\"", "Търговия с хранителни стоки", "Доставка на строителни материали",
    "Счетоводни услуги и консултации", "Ремонт на автомобили", "Плащане по фактура № 4512",
    "Кисело мляко, 400 г", "Хляб пълнозърнест", "Детска градина \"Щастливо детство\"",
};
const TValues kCzech = {
    "Novák Jan", "Svobodová Marie", "Dvořák Petr", "Černý Tomáš", "Procházková Lenka", "Kučera Jiří",
    "Veselý Martin", "Horáková Eva", "Němec Lukáš", "Pokorná Jana", "Růžička Václav", "Šťastný Ondřej",
    "Žižková Kateřina", "Vondráček Zdeněk", "Na Příkopě 12", "Václavské náměstí 56", "Husova 18, Brno",
    "Třída Svobody 1043", "U Nemocnice 4", "Praha", "Brno", "Ostrava", "Plzeň", "České Budějovice",
    "Hradec Králové", "Ústí nad Labem", "Olomouc", "Pardubice", "Stavební firma Kolář s.r.o.",
    "Pekařství U Zlatého klasu", "Železářství Dvořák a syn", "Účetní a daňové poradenství",
    "Dodávka kancelářského nábytku", "Oprava chladicích zařízení", "Mléko polotučné 1 l",
    "Platba za fakturu č. 2021",
};
const TValues kPolish = {
    "Kowalski Jan", "Nowak Agnieszka", "Wiśniewski Piotr", "Wójcik Małgorzata", "Kowalczyk Krzysztof",
    "Kamińska Anna", "Lewandowski Tomasz", "Zieliński Paweł", "Szymańska Katarzyna", "Woźniak Łukasz",
    "Dąbrowski Grzegorz", "Kozłowska Joanna", "Jankowski Michał", "Mazur Zofia", "Krawczyk Stanisław",
    "ul. Marszałkowska 84/92", "ul. Piotrkowska 104", "al. Jerozolimskie 123", "ul. Długa 5, m. 14",
    "ul. Świętokrzyska 11", "Warszawa", "Kraków", "Łódź", "Wrocław", "Poznań", "Gdańsk", "Szczecin",
    "Bydgoszcz", "Białystok", "Częstochowa", "Zakład Usług Remontowo-Budowlanych",
    "Przedsiębiorstwo Handlowe \"Żuraw\"", "Spółdzielnia Mleczarska w Łowiczu",
    "Hurtownia artykułów spożywczych", "Dostawa materiałów biurowych", "Naprawa sprzętu gospodarstwa domowego",
    "Mąka pszenna, worek 25 kg", "Płatność za fakturę nr 315",
};
const TValues kHungarian = {
    "Nagy István", "Kovács Mária", "Tóth László", "Szabó Erzsébet", "Horváth József", "Varga Katalin",
    "Kiss Sándor", "Molnár Éva", "Németh Zoltán", "Farkas Ildikó", "Balogh Gábor", "Papp Zsuzsanna",
    "Takács Ferenc", "Juhász Györgyi", "Lakatos Béla", "Fő utca 12.", "Petőfi Sándor utca 34.",
    "Kossuth Lajos tér 5.", "Rákóczi út 71.", "Szent István körút 2/B", "Budapest", "Debrecen", "Szeged",
    "Miskolc", "Pécs", "Győr", "Nyíregyháza", "Kecskemét", "Székesfehérvár", "Hódmezővásárhely",
    "Építőipari Kft.", "Zöldség- és gyümölcskereskedés", "Gépjárműjavító műhely",
    "Könyvelési és adótanácsadási szolgáltatás", "Irodabútor szállítása", "Hűtőberendezések javítása",
    "Tejföl 20%, 330 g", "Számla kiegyenlítése",
};
const TValues kSlovak = {
    "Horváth Peter", "Kováčová Mária", "Varga Ján", "Tóthová Zuzana", "Nagy Martin", "Baláž Ľubomír",
    "Molnárová Katarína", "Szabó Michal", "Lukáč Štefan", "Šimková Júlia", "Čierny Jozef", "Kráľová Alžbeta",
    "Oravec Ďurko", "Mikuláš Dušan", "Hlavná 25", "Štúrova 12, Nitra", "Námestie SNP 8", "Obchodná 41",
    "Mlynské nivy 16", "Bratislava", "Košice", "Prešov", "Žilina", "Banská Bystrica", "Nitra", "Trnava",
    "Trenčín", "Martin", "Poprad", "Stavebná spoločnosť Ďurica s.r.o.", "Pekáreň u Ľudovíta",
    "Potraviny Jednota", "Účtovnícke služby", "Dodávka kancelárskeho nábytku", "Oprava práčok a chladničiek",
    "Bryndzové halušky", "Platba faktúry č. 118",
};
const TValues kGerman = {
    "Müller Hans", "Schmidt Jürgen", "Schneider Günter", "Fischer Käthe", "Weber Björn", "Meyer Dörte",
    "Wagner Josef", "Becker Ursula", "Schulz Rüdiger", "Hoffmann Bärbel", "Schäfer Klaus", "Koch Sören",
    "Bauer Gertrud", "Richter Jörg", "Krüger Heinz", "Hauptstraße 12", "Bahnhofstraße 5a", "Königsallee 27",
    "Schloßstraße 8", "Am Mühlenbach 3", "Goethestraße 44", "München", "Köln", "Düsseldorf", "Nürnberg",
    "Lübeck", "Göttingen", "Würzburg", "Osnabrück", "Frankfurt am Main", "Bäckerei Großmann GmbH",
    "Müller & Söhne KG", "Gärtnerei Blümchen", "Fahrzeugbau Jäger AG", "Lieferung von Büromöbeln",
    "Reparatur von Kühlgeräten", "Vollmilch 3,5 % Fett", "Rechnung über Straßenbauarbeiten",
    "Grüße aus Österreich",
};
const TValues kFrench = {
    "Dupont Jean", "Lefèvre Hélène", "Moreau François", "Girard Céline", "Bérenger Amélie", "Rousseau Noël",
    "Garçon Thérèse", "Lemaître Jérôme", "Bonnet Gaëlle", "Fournier Loïc", "Mercier Aurélie",
    "Chevalier Benoît", "Faure Élodie", "André Stéphane", "Leclerc Françoise", "12, rue de la Paix",
    "45, avenue des Champs-Élysées", "8, boulevard Saint-Michel", "3, place de l'Hôtel de Ville",
    "27, rue du Faubourg Saint-Honoré", "Paris", "Marseille", "Besançon", "Orléans", "Nîmes", "Sète", "Béziers",
    "Saint-Étienne", "Montréal", "Boulangerie Pâtisserie Lefèvre", "Société Générale de Crédit",
    "Crème fraîche épaisse", "Café-brasserie du Théâtre", "Livraison de mobilier de bureau",
    "Réparation d'électroménager", "Fromage affiné, pièce de 250 g", "Règlement de la facture n° 45",
};
const TValues kSpanish = {
    "García López María", "Martínez Sánchez José", "Rodríguez Pérez Ángel", "Fernández Gómez Lucía",
    "González Díaz Íñigo", "Hernández Ruiz Begoña", "Jiménez Muñoz Raúl", "Álvarez Romero Inés",
    "Moreno Alonso Andrés", "Gutiérrez Navarro Sofía", "Ibáñez Castillo Óscar", "Peña Ortega Verónica",
    "Calle Mayor, 15", "Avenida de la Constitución, 42", "Plaza de España, 3, 2º izda.",
    "Paseo de la Castellana, 89", "Calle Núñez de Balboa, 7", "Madrid", "Málaga", "Córdoba", "León", "Cádiz",
    "Logroño", "Ávila", "Almería", "Cáceres", "Panadería La Espiga S.L.", "Construcciones Muñoz e Hijos",
    "Ferretería El Tornillo", "Compañía Telefónica Nacional", "Suministro de material de oficina",
    "Reparación de electrodomésticos", "Jamón ibérico de bellota", "Pago de factura nº 123",
};
const TValues kPortuguese = {
    "Silva João", "Santos Conceição", "Ferreira António", "Pereira Glória", "Oliveira Sebastião", "Costa Inês",
    "Rodrigues Gonçalo", "Martins Luís", "Gonçalves Lúcia", "Sousa Estêvão", "Magalhães Fátima",
    "Araújo Márcio", "Rua Augusta, 123", "Avenida da Liberdade, 45", "Praça do Comércio, 1",
    "Rua São Bento, 210", "Travessa da Conceição, 8", "Lisboa", "São Paulo", "Coimbra", "Évora", "Brasília",
    "Guimarães", "Belém", "Setúbal", "Maranhão", "Padaria Pão Quente Lda.", "Construções Gonçalves & Irmãos",
    "Farmácia Central", "Transportes Açorianos", "Fornecimento de material de escritório",
    "Reparação de eletrodomésticos", "Queijo da Serra, peça de 1 kg", "Pagamento da fatura nº 56",
};
const TValues kCatalan = {
    "Puig i Ferrer Jordi", "Vidal Martí Núria", "Soler Pujol Mercè", "Font Roca Pere", "Serra Bosch Montserrat",
    "Casals Vilà Joan", "Ribas Coll Aina", "Sala Camps Lluís", "Garriga Comas Glòria", "Torrent Prats Martí",
    "Carrer de Balmes, 124", "Passeig de Gràcia, 43", "Plaça de Catalunya, 1", "Avinguda Diagonal, 640",
    "Carrer de la Pietat, 8", "Barcelona", "Girona", "Lleida", "Tarragona", "Sabadell", "Terrassa",
    "Vilanova i la Geltrú", "Olot", "Figueres", "L'Hospitalet de Llobregat", "Forn de pa Cal Miquel",
    "Ferreteria Ca l'Agustí", "Cooperativa Agrícola del Penedès", "Col·legi d'Advocats de Lleida",
    "Subministrament de material d'oficina", "Reparació d'electrodomèstics", "Formatge de cabra, peça de 300 g",
    "Pagament de la factura núm. 78",
};
const TValues kItalian = {
    "Rossi Mario", "Russo Niccolò", "Ferrari Giulia", "Esposito Nicolò", "Bianchi Lucrezia", "Romano Gianluca",
    "Colombo Federica", "Ricci Beatrice", "Marino Pietro", "Greco Ilaria", "De Luca Mattia", "Cantù Alessandro",
    "Curtò Salvatore", "Via Roma, 15", "Corso Vittorio Emanuele II, 102", "Piazza del Popolo, 3",
    "Via Garibaldi, 27", "Viale della Libertà, 8", "Roma", "Milano", "Napoli", "Torino", "Forlì", "Cantù",
    "Mondovì", "Sant'Agata de' Goti", "Porto Sant'Elpidio", "Panificio Fratelli Rossi",
    "Società Cooperativa Agricola", "Caffè del Corso", "Trattoria Da Nicolò", "Fornitura di mobili per ufficio",
    "Riparazione di elettrodomestici", "Qualità garantita, più sconto", "Città di Castello",
    "Pagamento fattura n. 99, perché urgente",
};
const TValues kDanish = {
    "Jensen Søren", "Nielsen Mette", "Hansen Bjørn", "Pedersen Åse", "Andersen Kirsten", "Christensen Jørgen",
    "Larsen Lærke", "Sørensen Ove", "Rasmussen Maja", "Johansen Sigrid", "Kristiansen Øystein", "Håkonsen Tor",
    "Nørregade 14", "Østergade 5, 2. sal", "Strøget 22", "Kongens Nytorv 3", "Storgata 41", "Bryggen 7",
    "København", "Århus", "Ålborg", "Odense", "Næstved", "Tromsø", "Bodø", "Trondheim", "Bærum",
    "Brødrene Sørensen A/S", "Bageriet på Hjørnet", "Fiskehandler Ålesund", "Møbelfabrikken Nørre",
    "Levering af kontormøbler", "Reparation af køleskabe", "Smør, 250 g", "Rødgrød med fløde",
    "Betaling af faktura nr. 42",
};
const TValues kGreek = {
    "Παπαδόπουλος Γεώργιος", "Παπαδοπούλου Μαρία", "Νικολάου Δημήτριος", "Γεωργίου Ελένη",
    "Ιωάννου Κωνσταντίνος", "Βασιλείου Αικατερίνη", "Αντωνίου Νικόλαος", "Οικονόμου Σοφία",
    "Χριστοδούλου Παναγιώτης", "Καραγιάννη Ευαγγελία", "Μακρής Αθανάσιος", "Οδός Ερμού 25",
    "Λεωφόρος Κηφισίας 112", "Πλατεία Συντάγματος 3", "Οδός Αριστοτέλους 14", "Οδός Εγνατίας 56", "Αθήνα",
    "Θεσσαλονίκη", "Πάτρα", "Ηράκλειο", "Λάρισα", "Βόλος", "Ιωάννινα", "Χανιά", "Καλαμάτα",
    "Αρτοποιείο ο Φούρνος", "Ελληνικά Πετρέλαια Α.Ε.", "Εμπορική Τράπεζα", "Φαρμακείο Νικολάου",
    "Προμήθεια επίπλων γραφείου", "Επισκευή ηλεκτρικών συσκευών", "Φέτα, συσκευασία 400 γρ.",
    "Εξόφληση τιμολογίου αρ. 12", "ΟΔΟΣ ΣΤΑΔΙΟΥ 10",
};
const TValues kJapanese = {
    "山田 太郎", "佐藤 花子", "鈴木 一郎", "高橋 美咲", "田中 健太", "渡辺 由美", "伊藤 直樹", "中村 さくら",
    "小林 誠", "加藤 恵子", "東京都千代田区丸の内1-1-1", "大阪府大阪市北区梅田2-4-9",
    "神奈川県横浜市中区山下町10", "愛知県名古屋市中村区名駅3-28", "福岡県福岡市博多区博多駅前2-1",
    "札幌市中央区北一条西", "株式会社山田商事", "有限会社さくら食品", "東京電力株式会社",
    "トヨタ自動車株式会社", "ソニー株式会社", "事務用品の納入", "冷蔵庫の修理", "牛乳 1リットル",
    "お米 5キログラム", "請求書番号 1234 の支払い", "コーヒー豆 ブラジル産", "ホテル ニューオータニ",
    "ラーメン屋 まるや", "京都府京都市東山区",
};
const TValues kChineseSimplified = {
    "张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄晓明", "周杰", "吴丽华",
    "北京市朝阳区建国路88号", "上海市浦东新区陆家嘴环路1000号", "广州市天河区体育西路103号",
    "深圳市南山区科技园", "成都市武侯区人民南路四段", "杭州市西湖区文三路", "北京华为技术有限公司",
    "上海汽车集团股份有限公司", "中国工商银行", "阿里巴巴网络技术有限公司", "天津钢铁厂", "办公家具供应",
    "冰箱维修服务", "纯牛奶 一升装", "大米 五公斤", "发票号码 1234 付款", "绿茶 龙井", "南京路步行街",
    "重庆火锅店", "长江实业",
};
const TValues kChineseTraditional = {
    "陳大文", "林美玲", "黃志明", "張家豪", "李淑芬", "王建國", "吳雅婷", "劉德華", "蔡宗翰", "鄭怡君",
    "台北市信義區信義路五段7號", "高雄市前鎮區中山二路", "台中市西屯區台灣大道三段", "新北市板橋區文化路一段",
    "香港中環皇后大道中", "九龍尖沙咀彌敦道", "台灣積體電路製造股份有限公司", "鴻海精密工業股份有限公司",
    "中華電信股份有限公司", "長榮航空", "國泰世華銀行", "辦公傢俱供應", "冰箱維修服務", "鮮乳 一公升",
    "白米 五公斤", "發票號碼 1234 付款", "烏龍茶 凍頂", "誠品書店", "鼎泰豐餐廳", "統一超商",
};
const TValues kKorean = {
    "김민준", "이서연", "박지훈", "최수빈", "정예은", "강동현", "조하은", "윤성민", "장미영", "임재원",
    "서울특별시 강남구 테헤란로 152", "서울특별시 중구 세종대로 110", "부산광역시 해운대구 해운대로 264",
    "대구광역시 수성구 달구벌대로", "인천광역시 남동구 구월동", "경기도 수원시 영통구", "삼성전자 주식회사",
    "현대자동차", "엘지화학", "한국전력공사", "신한은행", "사무용 가구 납품", "냉장고 수리 서비스",
    "우유 1리터", "쌀 10킬로그램", "청구서 번호 1234 지불", "녹차 보성", "김밥천국", "제주도 감귤 농장",
    "대한항공",
};

// The ANSI and OEM settings decide between pages that read a sample alike;
// every test here runs with the defaults (1252 and 437) unless it says not.
class TCodePageSettings {
 public:
  TCodePageSettings(const char* ansi, const char* oem) {
    Set("NORVALE_ANSI_CP", ansi);
    Set("NORVALE_OEM_CP", oem);
  }
  TCodePageSettings(const TCodePageSettings&) = delete;
  TCodePageSettings& operator=(const TCodePageSettings&) = delete;
  ~TCodePageSettings() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class CodePageDetectTest : public ::testing::Test {
 protected:
  TCodePageSettings defaults_{nullptr, nullptr};
};

std::vector<std::string> Owned(const TValues& values) { return {values.begin(), values.end()}; }

// The languages' values taken in turn, as a table of mixed customers; in
// capitals only, as tables of the DOS era often are, when `upper`.
std::vector<std::string> Text(const std::vector<const TValues*>& languages, bool upper = false) {
  std::vector<std::string> out;
  for (size_t i = 0;; ++i) {
    bool any = false;
    for (const TValues* values : languages) {
      if (i >= values->size()) continue;
      out.push_back(upper ? UpperUtf8((*values)[i]) : std::string((*values)[i]));
      any = true;
    }
    if (!any) return out;
  }
}

// The values as a table in `codePage` stores them, leaving out those it
// cannot hold.
std::vector<std::string> InPage(int codePage, const std::vector<std::string>& utf8) {
  std::vector<std::string> out;
  for (const std::string& v : utf8) {
    if (!UnstorableCharacters(codePage, v).empty()) continue;
    std::string bytes;
    EXPECT_TRUE(Utf8ToCodePage(codePage, v, bytes)) << codePage;
    out.push_back(bytes);
  }
  return out;
}

TCodePageGuess Guess(const std::vector<std::string>& values, size_t first = 0, size_t count = SIZE_MAX) {
  TCodePageDetector detector;
  for (size_t i = first; i < values.size() && i - first < count; ++i)
    detector.Add(values[i].data(), values[i].size());
  return detector.Guess();
}

// The values read through `codePage`, a line each.
std::string ReadThrough(int codePage, const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& v : values) {
    std::string utf8;
    CodePageToUtf8(codePage, v, utf8);
    text += utf8 + "\n";
  }
  return text;
}

struct TLanguageCase {
  const char* name;
  std::vector<const TValues*> languages;
  bool upper;
  int written;
  // What the detector must say: the page written, or one that reads every
  // byte of the sample alike and is preferred by the default settings.
  int expected;
};

class LanguageTest : public CodePageDetectTest, public ::testing::WithParamInterface<TLanguageCase> {};

TEST_P(LanguageTest, IsReadInThePageItWasWrittenIn) {
  const TLanguageCase& c = GetParam();
  const std::vector<std::string> values = InPage(c.written, Text(c.languages, c.upper));
  ASSERT_GE(values.size(), 10u) << "too little of the text fits the page";
  const TCodePageGuess guess = Guess(values);
  EXPECT_EQ(guess.codePage, c.expected) << "confidence " << guess.confidence;
  EXPECT_GE(guess.confidence, kCodePageVerdictConfidence);
  EXPECT_FALSE(guess.asciiOnly);
  if (c.expected != c.written) {
    EXPECT_EQ(ReadThrough(c.expected, values), ReadThrough(c.written, values));
  }
}

const TLanguageCase kLanguageCases[] = {
    {"Russian", {&kRussian}, false, 1251, 1251},
    {"Russian", {&kRussian}, false, 866, 866},
    {"Russian", {&kRussian}, false, 20866, 20866},
    {"Russian", {&kRussian}, false, 65001, 65001},
    {"RussianUpper", {&kRussian}, true, 1251, 1251},
    {"RussianUpper", {&kRussian}, true, 866, 866},
    {"RussianUpper", {&kRussian}, true, 20866, 20866},
    {"Ukrainian", {&kUkrainian}, false, 1251, 1251},
    {"Ukrainian", {&kUkrainian}, false, 866, 866},  // the values without і, which 866 lacks
    {"Bulgarian", {&kBulgarian}, false, 1251, 1251},
    {"Bulgarian", {&kBulgarian}, false, 866, 866},
    {"Czech", {&kCzech}, false, 1250, 1250},
    {"Czech", {&kCzech}, false, 852, 852},
    {"CzechUpper", {&kCzech}, true, 852, 852},
    {"Polish", {&kPolish}, false, 1250, 1250},
    {"Polish", {&kPolish}, false, 852, 852},
    {"Hungarian", {&kHungarian}, false, 1250, 1250},
    {"Hungarian", {&kHungarian}, false, 852, 852},
    {"Slovak", {&kSlovak}, false, 1250, 1250},
    {"Slovak", {&kSlovak}, false, 852, 852},
    {"Central", {&kCzech, &kSlovak, &kPolish, &kHungarian, &kGerman}, false, 1250, 1250},
    {"Central", {&kCzech, &kSlovak, &kPolish, &kHungarian, &kGerman}, false, 852, 852},
    {"German", {&kGerman}, false, 1252, 1252},
    {"German", {&kGerman}, false, 850, 437},
    {"German", {&kGerman}, false, 437, 437},
    {"French", {&kFrench}, false, 1252, 1252},
    {"French", {&kFrench}, false, 850, 437},
    {"French", {&kFrench}, false, 437, 437},
    {"FrenchUpper", {&kFrench}, true, 850, 850},
    {"Spanish", {&kSpanish}, false, 1252, 1252},
    {"Spanish", {&kSpanish}, false, 850, 850},
    {"Spanish", {&kSpanish}, false, 437, 437},
    {"Portuguese", {&kPortuguese}, false, 1252, 1252},
    {"Portuguese", {&kPortuguese}, false, 850, 850},
    {"Catalan", {&kCatalan}, false, 1252, 1252},
    {"Catalan", {&kCatalan}, false, 850, 437},
    {"Catalan", {&kCatalan}, false, 437, 437},
    {"Italian", {&kItalian}, false, 1252, 1252},
    {"Italian", {&kItalian}, false, 850, 437},
    {"Italian", {&kItalian}, false, 437, 437},
    {"Danish", {&kDanish}, false, 1252, 1252},
    {"Danish", {&kDanish}, false, 850, 850},
    {"Western", {&kGerman, &kFrench, &kSpanish, &kPortuguese, &kCatalan, &kItalian, &kDanish}, false, 1252, 1252},
    {"Western", {&kGerman, &kFrench, &kSpanish, &kPortuguese, &kCatalan, &kItalian, &kDanish}, false, 850, 850},
    {"Western", {&kGerman, &kFrench, &kSpanish, &kPortuguese, &kCatalan, &kItalian, &kDanish}, false, 437, 437},
    {"Greek", {&kGreek}, false, 1253, 1253},
    {"Greek", {&kGreek}, false, 737, 737},
    {"Greek", {&kGreek}, false, 65001, 65001},
    {"GreekUpper", {&kGreek}, true, 737, 737},
    {"Japanese", {&kJapanese}, false, 932, 932},
    {"Japanese", {&kJapanese}, false, 65001, 65001},
    {"ChineseSimplified", {&kChineseSimplified}, false, 936, 936},
    {"ChineseSimplified", {&kChineseSimplified}, false, 65001, 65001},
    {"ChineseTraditional", {&kChineseTraditional}, false, 950, 950},
    {"Korean", {&kKorean}, false, 949, 949},
    {"Korean", {&kKorean}, false, 65001, 65001},
};

INSTANTIATE_TEST_SUITE_P(Samples, LanguageTest, ::testing::ValuesIn(kLanguageCases),
                         [](const ::testing::TestParamInfo<TLanguageCase>& info) {
                           return std::string(info.param.name) + "_" + std::to_string(info.param.written);
                         });

// A table of two or three records says little, but what it says must be
// right: every window of a few values of every sample gets the page it was
// written in, one that reads it alike, or no verdict.
TEST_F(CodePageDetectTest, SmallSamplesAreRightOrSilent) {
  for (const TLanguageCase& c : kLanguageCases) {
    const std::vector<std::string> values = InPage(c.written, Text(c.languages, c.upper));
    for (size_t count : {2, 3, 5}) {
      for (size_t first = 0; first + count <= values.size(); ++first) {
        const TCodePageGuess guess = Guess(values, first, count);
        if (guess.codePage == 0 || guess.codePage == c.written) continue;
        const std::vector<std::string> window(values.begin() + first, values.begin() + first + count);
        EXPECT_EQ(ReadThrough(guess.codePage, window), ReadThrough(c.written, window))
            << c.name << " in " << c.written << ", values " << first << " to " << first + count - 1
            << " taken for " << guess.codePage;
      }
    }
  }
}

TEST_F(CodePageDetectTest, AsciiAndEmptySamplesGiveNoVerdict) {
  TCodePageDetector empty;
  EXPECT_EQ(empty.Guess().codePage, 0);
  EXPECT_TRUE(empty.Guess().asciiOnly);

  const std::vector<std::string> ascii = {"Smith John", "12 Baker Street", "London", "ACME LTD", "Jones & Co."};
  const TCodePageGuess guess = Guess(ascii);
  EXPECT_EQ(guess.codePage, 0);
  EXPECT_TRUE(guess.asciiOnly);
}

TEST_F(CodePageDetectTest, FiveCyrillicValuesDecide) {
  struct TText {
    const TValues* values;
    int codePage;
  };
  for (TText t : {TText{&kRussian, 1251}, TText{&kRussian, 866}, TText{&kRussian, 20866},
                  TText{&kBulgarian, 1251}, TText{&kBulgarian, 866}, TText{&kUkrainian, 1251}}) {
    const std::vector<std::string> values = InPage(t.codePage, Owned(*t.values));
    for (size_t first = 0; first + 5 <= values.size(); first += 5) {
      const TCodePageGuess guess = Guess(values, first, 5);
      EXPECT_EQ(guess.codePage, t.codePage) << "values " << first << " to " << first + 4
                                            << ", confidence " << guess.confidence;
    }
  }
  // Abbreviations, capitals inside a word and a Latin bracket do not put it off.
  const std::vector<std::string> banks =
      InPage(866, {"АО ЮниКредит Банк", "ПАО Сбербанк", "Банк ВТБ (ПАО)"});
  EXPECT_EQ(Guess(banks).codePage, 866);
}

TEST_F(CodePageDetectTest, CyrillicThatLooksLikeAccentedLatinStaysCyrillic) {
  // Through 1252 these read "Àííà", "Íèíà", "Àíòîí": every letter one that
  // Catalan or Italian uses, but never a whole word of them.
  for (int codePage : {1251, 866}) {
    const std::vector<std::string> names = InPage(codePage, {"Анна", "Нина", "Инна", "Антон", "Тина"});
    EXPECT_EQ(Guess(names).codePage, codePage);
  }
}

TEST_F(CodePageDetectTest, StrayHighBytesGiveNoVerdict) {
  std::vector<std::string> ascii;
  for (int i = 0; i < 20; ++i) ascii.insert(ascii.end(), {"Smith John", "Baker Street 12", "London"});
  struct TStray {
    const char* what;
    std::vector<std::string> values;
  };
  const TStray strays[] = {
      {"one accented letter", {"Caf\xE9"}},
      {"two accented letters", {"Caf\xE9", "M\xFCller"}},
      {"one Cyrillic pair", {"\xC4\xE0"}},
      {"one UTF-8 sequence", {"Caf\xC3\xA9"}},
  };
  for (const TStray& stray : strays) {
    std::vector<std::string> values = ascii;
    values.insert(values.begin() + 30, stray.values.begin(), stray.values.end());
    const TCodePageGuess guess = Guess(values);
    EXPECT_EQ(guess.codePage, 0) << stray.what;
    EXPECT_LT(guess.confidence, kCodePageVerdictConfidence) << stray.what;
    EXPECT_FALSE(guess.asciiOnly) << stray.what;
  }
}

TEST_F(CodePageDetectTest, TextNoCandidateReadsGivesNoVerdict) {
  // Bytes with no pattern at all.
  std::vector<std::string> noise;
  uint32_t seed = 12345;
  for (int i = 0; i < 60; ++i) {
    std::string v;
    for (int k = 0; k < 12; ++k) {
      seed = seed * 1103515245 + 12345;
      v += static_cast<char>(0x80 | (seed >> 16));
    }
    noise.push_back(v);
  }
  EXPECT_EQ(Guess(noise).codePage, 0);
  // Five Chinese names are too few for libuchardet; read a byte at a time
  // they are Cyrillic letters of random case, which must not pass for Russian.
  const std::vector<std::string> names = InPage(936, Owned(kChineseSimplified));
  for (size_t first : {0, 5}) {
    const TCodePageGuess guess = Guess(names, first, 5);
    EXPECT_TRUE(guess.codePage == 0 || guess.codePage == 936) << guess.codePage;
  }
}

TEST_F(CodePageDetectTest, PagesThatReadTheSampleAlikeFollowTheSettings) {
  const std::vector<std::string> oem = InPage(850, Owned(kGerman));
  const std::vector<std::string> ansi = InPage(1252, Owned(kGerman));
  EXPECT_EQ(Guess(oem).codePage, 437);
  EXPECT_EQ(Guess(ansi).codePage, 1252);
  {
    TCodePageSettings settings("1250", "850");
    EXPECT_EQ(Guess(oem).codePage, 850);
    EXPECT_EQ(Guess(ansi).codePage, 1250);
  }
  {
    // German umlauts sit at the same bytes in 437, 850 and 852.
    TCodePageSettings settings("1250", "852");
    EXPECT_EQ(Guess(oem).codePage, 852);
    // A sample the preferred page reads differently is not swayed.
    EXPECT_EQ(Guess(InPage(850, Owned(kDanish))).codePage, 850);
    EXPECT_EQ(Guess(InPage(1252, Owned(kFrench))).codePage, 1252);
  }
}

TEST_F(CodePageDetectTest, CharactersCutAtTheEndOfAValueAreNoErrors) {
  // A field's width can end a value inside a multi-byte character.
  struct TText {
    const TValues* values;
    int codePage;
  };
  for (TText t : {TText{&kRussian, 65001}, TText{&kJapanese, 932}, TText{&kKorean, 949},
                  TText{&kChineseTraditional, 950}}) {
    std::vector<std::string> values = InPage(t.codePage, Owned(*t.values));
    for (std::string& v : values)
      if (static_cast<unsigned char>(v.back()) >= 0x80) v.pop_back();
    EXPECT_EQ(Guess(values).codePage, t.codePage);
  }
}

TEST_F(CodePageDetectTest, Utf8ToleratesAStrayValueOnly) {
  std::vector<std::string> values;
  for (int i = 0; i < 3; ++i)
    for (std::string_view v : kRussian) values.emplace_back(v);
  std::vector<std::string> stray = values;
  stray.push_back(InPage(1251, {"Иванов"})[0]);
  EXPECT_EQ(Guess(stray).codePage, 65001);

  std::vector<std::string> mixed = values;
  const std::vector<std::string> ansi = InPage(1251, Owned(kRussian));
  mixed.insert(mixed.end(), ansi.begin(), ansi.end());
  EXPECT_NE(Guess(mixed).codePage, 65001);
}

TEST_F(CodePageDetectTest, ValuesPastTheBudgetAreIgnored) {
  TCodePageDetector detector;
  const std::string ascii(1000, 'x');
  while (!detector.Full()) detector.Add(ascii.data(), ascii.size());
  EXPECT_EQ(detector.Bytes(), TCodePageDetector::kBudget);
  const std::vector<std::string> cyrillic = InPage(1251, Owned(kRussian));
  for (const std::string& v : cyrillic) detector.Add(v.data(), v.size());
  EXPECT_EQ(detector.Bytes(), TCodePageDetector::kBudget);
  EXPECT_TRUE(detector.Guess().asciiOnly);

  // The value that reaches the budget counts up to it.
  TCodePageDetector cut;
  const std::string almost(TCodePageDetector::kBudget - 3, 'x');
  cut.Add(almost.data(), almost.size());
  cut.Add(cyrillic[0].data(), cyrillic[0].size());
  EXPECT_EQ(cut.Bytes(), TCodePageDetector::kBudget);
  EXPECT_FALSE(cut.Guess().asciiOnly);
}

// The stored text of a table's character fields, each value trimmed, and
// the memo block numbers of its memo fields.
struct TTableText {
  std::vector<std::string> values;
  std::vector<int> memoBlocks;
};

TTableText ReadTableText(const std::string& path) {
  const std::vector<uint8_t> file = test::ReadFile(path);
  TTableText text;
  if (file.size() < 32) return text;
  auto u16 = [&](size_t at) { return static_cast<size_t>(file[at] | file[at + 1] << 8); };
  const size_t records = u16(4) | u16(6) << 16;
  const size_t headerLength = u16(8), recordLength = u16(10);
  struct TField {
    char type;
    size_t offset, length;
  };
  std::vector<TField> fields;
  size_t offset = 1;
  for (size_t at = 32; at + 32 <= headerLength && file[at] != 0x0D; at += 32) {
    fields.push_back({static_cast<char>(file[at + 11]), offset, file[at + 16]});
    offset += file[at + 16];
  }
  for (size_t r = 0; r < records && headerLength + (r + 1) * recordLength <= file.size(); ++r) {
    const char* record = reinterpret_cast<const char*>(file.data()) + headerLength + r * recordLength;
    for (const TField& f : fields) {
      std::string value(record + f.offset, f.length);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
      if (f.type == 'C' && !value.empty()) text.values.push_back(value);
      if (f.type == 'M' && value.find_first_not_of(' ') != std::string::npos)
        text.memoBlocks.push_back(std::atoi(value.c_str()));
    }
  }
  return text;
}

TEST_F(CodePageDetectTest, CorpusTablesThatNameNoPage) {
  const std::string dir = test::CorpusDir() + "/github/";
  const TTableText passport = ReadTableText(dir + "albfernandez-javadbf/a3.dbf");
  ASSERT_FALSE(passport.values.empty());
  const TCodePageGuess russian = Guess(passport.values);
  EXPECT_EQ(russian.codePage, 866) << russian.confidence;

  const TTableText dogs = ReadTableText(dir + "yortus-DBFFile/dbase_not_latin1.dbf");
  ASSERT_FALSE(dogs.values.empty());
  const TCodePageGuess big5 = Guess(dogs.values);
  EXPECT_EQ(big5.codePage, 950) << big5.confidence;

  // Its character fields are ASCII; its memos hold two bytes above 0x7F
  // ("Cr\x8Ame", "do\x85Petits"), which settle nothing.
  const TTableText products = ReadTableText(dir + "infused-dbf/dbase_83.dbf");
  ASSERT_FALSE(products.values.empty());
  EXPECT_TRUE(Guess(products.values).asciiOnly);
  const std::vector<uint8_t> memo = test::ReadFile(dir + "infused-dbf/dbase_83.dbt");
  std::vector<std::string> withMemos = products.values;
  for (int block : products.memoBlocks) {
    const size_t start = static_cast<size_t>(block) * 512;
    if (block <= 0 || start >= memo.size()) continue;
    size_t end = start;
    while (end < memo.size() && memo[end] != 0x1A) ++end;
    withMemos.emplace_back(reinterpret_cast<const char*>(memo.data()) + start, end - start);
  }
  ASSERT_GT(withMemos.size(), products.values.size());
  const TCodePageGuess unsure = Guess(withMemos);
  EXPECT_FALSE(unsure.asciiOnly);
  EXPECT_EQ(unsure.codePage, 0) << unsure.confidence;
}

}  // namespace
}  // namespace norvale
