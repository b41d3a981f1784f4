start: send "Hi^M" ; c
beginloop
while (#a[1] == "x" and not (##b < 3))
 wait wildcard postidle(1) "*>", timeout
 loopagain
endwhile
endloop
call sub.hsc:x, 1, "a" + length(%p)
