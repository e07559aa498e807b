#pragma once
// Every Russian text of the program, written once in UTF-8 and held in Windows-1251.
#include <string>

#include "db/Charset.h"

namespace kestrix::texts {

// Table copy
inline const std::string kInsertError = ToCp1251("Ошибка Добавления ");
inline const std::string kMaxIdError = ToCp1251("Ошибка выяснения значения ID ");
inline const std::string kArchiveError = ToCp1251("Ошибка изменения флага архивации ");
// Table clearing
inline const std::string kClearError = ToCp1251("Ошибка очистки таблицы  ");
// Transfer sequence
inline const std::string kClearPassHeader = ToCp1251("   Очистка БД приемника ");
inline const std::string kCopyPassHeader = ToCp1251("   Обновление БД приемника");
inline const std::string kExtraClearing = ToCp1251("   Дополнительная Очистка БД ");
inline const std::string kClearing = ToCp1251("   Очистка БД ");
inline const std::string kClearPassStatus = ToCp1251("Очистка Базы - приемника данных:.");
// Generator reset
inline const std::string kGeneratorMaxError = ToCp1251("Ошибка нахождения максимума таблицы  ");
inline const std::string kGeneratorSetError = ToCp1251("Ошибка установки генератора  ");
// Macro transfer
inline const std::string kMacroReadError = ToCp1251("Ошибка чтения макросов источника:  ");
inline const std::string kMacroClearError = ToCp1251("Ошибка очистки макросов приемника:  ");
inline const std::string kMacroInsertError = ToCp1251("Ошибка добавления макросов в приемник:  ");
inline const std::string kMacroMaxIdError = ToCp1251("Ошибка выяснения значения ID макроса :  ");
inline const std::string kMacroTextError = ToCp1251("Ошибка преобразования текста макроса ");
// Column update pass
inline const std::string kUpdateError = ToCp1251("Ошибка Обновления ");
// SQL scripts
inline const std::string kBeginRuler = ToCp1251("___________ Начало команды SQL ____________________");
inline const std::string kSuccessLine = ToCp1251("    Успешная операция.    ");
inline const std::string kErrorHeading = ToCp1251("########       Сообщение об ошибке       #########");
inline const std::string kEndRuler = ToCp1251("___________ Конец команды SQL _____________________");
// Transfer run
inline const std::string kStatusInterrupted = ToCp1251("Перенос данных прерван");
inline const std::string kStatusPostScript = ToCp1251("Обработка");
inline const std::string kStatusVerification = ToCp1251("Проверка переноса: ");
inline const std::string kStatusGenerators = ToCp1251("Восстановление генераторов.");
inline const std::string kStatusFinished = ToCp1251("Перенос данных завершен.");
inline const std::string kConfirmCancel = ToCp1251("Вы действительно хотите прервать перенос данных?");
inline const std::string kInterruptedWarning =
    std::string(39, ' ') + ToCp1251("Внимание!!!") + "\r" + std::string(17, ' ') +
    ToCp1251("Перенос данных был прерван пользователем.") + "\r" + " " +
    ToCp1251("Перед врозобновлением переноса данных обновите Базу - приемник данных.");
inline const std::string kSameDatabases = ToCp1251("БД источника и приемника должны быть разными.");
// A run whose server left it waiting 30 s after a cancel request: its links were cut.
inline const std::string kServerSilent = ToCp1251("Сервер не отвечает; соединение с ним разорвано.");
// Start-up checks
inline const std::string kLogCreateFailed = ToCp1251("Невозможно создать Файл результатов,") + "\r" +
                                            std::string(2, ' ') + ToCp1251("продолжение работы невозможно.");
inline const std::string kTableListMissing = ToCp1251("Не найден Файл со списком копируемых таблиц,") + "\r" +
                                             std::string(9, ' ') + ToCp1251("продолжение работы невозможно.");
inline const std::string kGeneratorListMissing = ToCp1251("Не найден Файл со списком генераторов,") + "\r" +
                                                 std::string(3, ' ') + ToCp1251("продолжение работы невозможно.");

// Main window
inline const std::string kWindowTitle = ToCp1251("Перенос данных");
inline const std::string kSourceTitle = ToCp1251("База - источник данных:");
inline const std::string kDestTitle = ToCp1251("База - приемник данных:");
inline const std::string kEventsOption = ToCp1251("Переносить события и тревоги");
inline const std::string kFromTitle = ToCp1251("с:");
inline const std::string kMoveCaption = ToCp1251("Выполнить перенос данных");
inline const std::string kCancelMoveCaption = ToCp1251("Прервать перенос данных");
inline const std::string kTableTitle = ToCp1251("Копируется таблица:");
inline const std::string kAllTitle = ToCp1251("Всего скопировано:");
inline const std::string kDatabaseDialogTitle = ToCp1251("Базы данных");
inline const std::string kDatabaseDialogFilter = ToCp1251("Базы данных (*.gdb, *.fdb)|*.gdb;*.fdb");
inline const std::string kMenuFile = ToCp1251("Файл");
inline const std::string kMenuSource = ToCp1251("Источник данных ...");
inline const std::string kMenuDest = ToCp1251("Приемник данных ...");
inline const std::string kMenuHelp = ToCp1251("Помощь");
inline const std::string kMenuMainWindow = ToCp1251("Главное окно");
inline const std::string kMenuAbout = ToCp1251("О программе ...");
inline const std::string kErrorCaption = ToCp1251("Ошибка");
inline const std::string kWarningCaption = ToCp1251("Внимание");
inline const std::string kConfirmCaption = ToCp1251("Подтверждение");
inline const std::string kAboutLoadFailed = ToCp1251("Не удалось загрузить библиотеку about.dll");
inline const std::string kAboutEntryMissing = ToCp1251("Функция show_about в библиотеке about.dll не найдена");

// Main window: the check before a run, the log viewer, the help page, the date field
inline const std::string kMenuCheck = ToCp1251("Проверка переноса ...");
inline const std::string kCheckCaption = ToCp1251("Проверка переноса");
inline const std::string kCheckNoProblems = ToCp1251("Проблем не найдено.");
inline const std::string kCheckProblems = ToCp1251("Найдено проблем: ");
inline const std::string kMenuLog = ToCp1251("Журнал переноса ...");
inline const std::string kLogCaption = ToCp1251("Журнал переноса");
inline const std::string kLogMissing = ToCp1251("Журнал переноса не найден: ");
inline const std::string kLogFirstPage = ToCp1251("Первая страница");
inline const std::string kLogPreviousPage = ToCp1251("Предыдущая страница");
inline const std::string kLogNextPage = ToCp1251("Следующая страница");
inline const std::string kLogLastPage = ToCp1251("Последняя страница");
inline const std::string kLogPage = ToCp1251("Страница ");
inline const std::string kLogPageOf = ToCp1251(" из ");
inline const std::string kLogSearch = ToCp1251("Текст для поиска");
inline const std::string kLogFind = ToCp1251("Найти");
inline const std::string kLogNotFound = ToCp1251("Не найдено: ");
inline const std::string kHelpCaption = ToCp1251("Помощь: главное окно");
inline const std::string kClearDate = ToCp1251("Очистить дату");
inline const std::string kClose = ToCp1251("Закрыть");
// Main window: the folder of the data files and the run log
inline const std::string kMenuDataFolder = ToCp1251("Папка данных ...");
inline const std::string kDataFolderDialogTitle = ToCp1251("Папка данных: Conv.txt, Generator.txt, SQL");
inline const std::string kDataFolderStatus = ToCp1251("Папка данных: ");
// Main window: the account after a run
inline const std::string kSummaryCaption = ToCp1251("Итоги переноса: ");
inline const std::string kOutcomeFinished = ToCp1251("перенос завершен");
inline const std::string kOutcomeInterrupted = ToCp1251("перенос прерван");
inline const std::string kOutcomeFailed = ToCp1251("перенос завершился ошибкой");
inline const std::string kSummaryHeaders[] = {ToCp1251("Таблица"), ToCp1251("Прочитано"), ToCp1251("Записано"),
                                              ToCp1251("Отказано"), ToCp1251("Секунд"), ToCp1251("Ссылок -1"),
                                              ToCp1251("Ссылки -1 по столбцам")};
inline const std::string kAllAccounted = ToCp1251("Все строки учтены.");
inline const std::string kNotAccounted = ToCp1251("Не учтены строки таблиц: ");
inline const std::string kTableFailed = ToCp1251("Ошибка: ");
// The read-back and the key map
inline const std::string kMenuVerify = ToCp1251("Проверять перенос");
inline const std::string kVerifyHeaders[] = {ToCp1251("Проверено"), ToCp1251("Различий")};
inline const std::string kAllVerified = ToCp1251("Приемник содержит все перенесенные строки без изменений.");
inline const std::string kDifferences = ToCp1251("Различия с источником в таблицах: ");
inline const std::string kNotVerified = ToCp1251("Проверка прервана, не проверены таблицы: ");
inline const std::string kSaveKeyMap = ToCp1251("Сохранить ключи ...");
inline const std::string kKeyMapDialogTitle = ToCp1251("Старые и новые ключи устройств");
inline const std::string kKeyMapDialogFilter = ToCp1251("Таблицы CSV (*.csv)|*.csv");
inline const std::string kKeyMapClash = ToCp1251("Этот файл нужен переносу, ключи в него не записаны: ");

} // namespace kestrix::texts
