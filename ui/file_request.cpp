// The file dialogs' request, put together from the platform's own rules for paths and patterns.
#include "ui/file_request.h"

FileRequest PrepareFileRequest(int32_t save, const std::u16string& title,
                               const std::u16string& defaultPath, const std::u16string& pattern,
                               int32_t position) {
    FileRequest request;
    request.save = save != 0 ? 1 : 0;
    request.title = title;
    SplitDefaultPath(defaultPath, request.folder, request.fileName);
    ConvertPatternText(pattern, position, request.nameFilters, request.selectedFilter);
    return request;
}
