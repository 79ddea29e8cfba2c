// A list box of the installed voices, whose items carry their voice tokens: filled, searched by
// voice id, read and emptied here, so the Voice page only says which list.
#pragma once

#include <windows.h>
#include <sapi.h>

// Appends one item per installed voice to the list (text: its description in the user's interface
// language; item data: its token, holding one reference) and selects the first item added. A
// category that cannot be enumerated leaves the list alone and gives SPERR_NO_MORE_ITEMS; otherwise
// the result is that of the last token handled (S_OK without tokens). A token without a description
// is left out.
HRESULT FillTokenList(HWND list);

// Selects the item of the voice whose token id equals id exactly; without one the selection stays.
// True when it was found.
bool SelectListVoice(HWND list, const wchar_t* id);

// Token of the list's selected item, lent (no reference added), or null without a selection.
ISpObjectToken* SelectedListToken(HWND list);

// Gives back the token reference of every item, once: the items stay, without tokens, so a second
// call, or SelectedListToken afterwards, finds none. Call it when the dialog holding the list closes.
void ReleaseTokenList(HWND list);
