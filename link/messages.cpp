#include "messages.h"

namespace kelvane::link {

std::string messageText(Message m, int language) {
    struct Row {
        const char* text[3];
    };
    static const Row rows[] = {
        {{"Błąd otwarcia portu COM", "Port openning error!", "..."}},
        {{"Port %s, zasilacz ID %d, Nr seryjny %d, firmware %d",
          "Port %s, zasilacz ID %d, Nr seryjny %d, firmware %d", ". %s, %d, %d, %d"}},
        {{"Operacja przerwana", "Operation aborted", "..."}},
        {{"Dane pobrane", "Data downloaded", "..."}},
        {{"Dane wysłane", "Data updated", "..."}},
        {{"Brak odpowiedzi zasilacza", "No answer from the power supply", "..."}},
    };
    if (language < 0 || language > 2) language = 0;
    return rows[static_cast<int>(m)].text[language];
}

}  // namespace kelvane::link
