#pragma once
// An image text cut into its lines, as a file read line by line gives them: without
// their line ends (LF or CR LF); a last line without a line end counts, an empty
// text has none.

#include <string>
#include <string_view>
#include <vector>

inline std::vector<std::string> partir_lineas(std::string_view texto) {
    std::vector<std::string> lineas;
    size_t pos = 0;
    while (pos < texto.size()) {
        size_t fin = texto.find('\n', pos);
        const size_t siguiente = fin == std::string_view::npos ? texto.size() : fin + 1;
        if (fin == std::string_view::npos)
            fin = texto.size();
        std::string_view l = texto.substr(pos, fin - pos);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        lineas.emplace_back(l);
        pos = siguiente;
    }
    return lineas;
}
