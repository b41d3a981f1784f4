if ((1
else send "Š¿@^0" \
 3 % 2
Š¿:
goto Š¿
