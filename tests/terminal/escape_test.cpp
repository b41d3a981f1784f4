// The escape-sequence interpreter: parameters and their limits, cursor
// movement and addressing, erasing, line and character editing, the scroll
// region, attributes, the single-byte sequences, the connect-line protection,
// and the device status and attribute replies sent through the port.
#include "screen_fixture.h"

namespace {

TEST_F(ScreenTest, ParametersAndMalformedSequences) {
  RunScript(R"(
case ESC [ H homes the cursor
  screen 40 5
  push "\e[3;7H"
  cursor 2 6
  push "\e[H"
  cursor 0 0

case an empty parameter between others reads 0
  screen 40 5
  push "\e[3;;5H"
  cursor 2 0

case parameters saturate
  screen 40 5
  push "\e[99999999999999999999;5H"
  cursor 4 4

case 38 parameter bytes still make a sequence
  screen 40 5
  push "\e[\{38}1H"
  cursor 4 0
  rows
    |
    |
    |
    |
    |

case the 39th parameter byte ends the sequence; what follows is text
  screen 40 5
  push "\e[\{39}1Hx"
  rows
    |Hx
  cursor 0 2

case a private sequence is consumed without effect
  screen 40 5
  push "a\e[?25lb\e[?6n\e[?1;2H"
  rows
    |ab
  cursor 0 2
  reply ""

case a final that is not in the table is ignored
  push "a\e[5zb\e[12;3~c"
  rows
    |abc

case any byte that is not a parameter byte ends a sequence
  push "ab\e[5\rX\e[2\x88Y"
  rows
    |abXY

case ESC ( and its final are swallowed
  push "a\e(Bb\e(0c"
  rows
    |abc

case ESC $ B without a JIS code shows a B
  push "a\e$Bc"
  rows
    |aBc

case ESC then another ESC drops both
  push "a\e\e[5Cb"
  rows
    |a[5Cb

case an unknown byte after ESC is dropped with it
  push "a\eZb"
  rows
    |ab
)");
}

TEST_F(ScreenTest, CursorMovement) {
  RunScript(R"(
case ESC [ 5 ; 200 H on an 80-column stock puts the cursor at column 80
  screen 80 5
  push "\e[5;200H"
  cursor 4 79

case up stops at the top row; 0 moves one
  screen 40 5
  push "\e[3;6H\e[9A"
  cursor 0 5
  push "\e[3;6H\e[0A"
  cursor 1 5

case down stops at the bottom row and makes the screen's lines
  screen 40 5
  push "ab\e[99B"
  cursor 4 2
  rows
    |ab
    |
    |
    |
    |  
  push "\e[B"
  cursor 4 2

case right stops at the last column
  screen 40 5
  push "\e[999C"
  cursor 0 39
  push "\e[H\e[5C\e[C"
  cursor 0 6

case left stops at column 0
  screen 40 5
  push "\e[1;10H\e[3D"
  cursor 0 6
  push "\e[99D"
  cursor 0 0

case moving up or right pads the line to the cursor with spaces
  screen 40 5
  push "ab\r\n12345678\e[A"
  cursor 0 8
  rows
    |ab      
    |12345678
  push "\e[2;9H\e[2C"
  rows
    |ab      
    |12345678  

case addressing alone does not pad
  screen 40 5
  push "\e[2;9H"
  rows
    |
    |
    |
    |
    |
)");
}

TEST_F(ScreenTest, SingleByteSequences) {
  RunScript(R"(
case ESC D on the bottom row without a region keeps the top line in the history
  screen 40 5
  numbered 5
  push "\eD"
  history
    |L0
  rows
    |L1
    |L2
    |L3
    |L4
    |
  cursor 4 2
  push "x"
  rows
    |L1
    |L2
    |L3
    |L4
    |  x

case ESC E is ESC D at column 0
  screen 40 5
  numbered 5
  push "\eEy\eEz"
  history
    |L0
    |L1
  rows
    |L2
    |L3
    |L4
    |y
    |z

case ESC D above the bottom moves down a line, making it
  screen 40 5
  push "ab\eDc"
  rows
    |ab
    |  c
  cursor 1 3

case ESC D at the bottom of a region scrolls the region only
  screen 40 5
  numbered 5
  push "\e[2;4r\e[4;1H\eD"
  rows
    |L0
    |L2
    |L3
    |
    |L4
  cursor 3 0
  history

case ESC D below a region moves down and never scrolls it
  screen 40 5
  numbered 5
  push "\e[1;3r\e[4;1H\eD\eD"
  cursor 4 0
  rows
    |L0
    |L1
    |L2
    |L3
    |L4

case ESC M on the top row inserts a line there
  screen 40 5
  numbered 5
  push "\e[H\eM"
  rows
    |
    |L0
    |L1
    |L2
    |L3
  cursor 0 0

case ESC M elsewhere moves up
  screen 40 5
  numbered 5
  push "\e[3;2H\eM"
  cursor 1 1

case ESC M at the top of a region scrolls the region down
  screen 40 5
  numbered 5
  push "\e[2;4r\e[2;1H\eM"
  rows
    |L0
    |
    |L1
    |L2
    |L4

case ESC 7 and ESC 8 save and restore the cursor and the attributes
  screen 40 5
  push "ab\e[1;4m\e7\e[0m\e[3;5Hxy\e8Z"
  rows
    |abZ
    |
    |    xy
  cursor 0 3
  attrs 1 1 0
)");
}

TEST_F(ScreenTest, EraseAndEdit) {
  RunScript(R"(
case erase to the line end, to the cursor, the whole line
  screen 40 5
  push "abcdef\e[1;4H\e[K"
  rows
    |abc
  push "\rabcdef\e[1;4H\e[1K"
  rows
    |   def
  push "\rabcdef\e[1;4H\e[2K"
  rows
    |   
  cursor 0 3

case erase below the cursor
  screen 40 5
  numbered 5
  push "\e[2;2H\e[J"
  rows
    |L0
    |L
    |
    |
    |

case erase above the cursor
  screen 40 5
  numbered 5
  push "\e[2;2H\e[1J"
  rows
    |
    | 1
    |L2
    |L3
    |L4

case ESC [ 2 J leaves the screen in the history above a separator line
  screen 40 3
  push "a\r\nb\e[2J"
  history
    |a
    |b
    |
    |\{40}-
  rows
    |
    |
    |
  cursor 0 0

case erasing sets the ordinary line mark
  screen 40 5
  typed "go\r"
  push "> go\r"
  mark 0 2
  push "\e[1;3H\e[K"
  mark 0 ff

case delete characters
  screen 40 5
  push "abcdef\e[1;2H\e[2P"
  rows
    |adef
  push "\e[P"
  rows
    |aef
  push "\e[0P"
  rows
    |af
  push "\e[99P"
  rows
    |a

case insert spaces; without a count nothing
  screen 40 5
  push "abcdef\e[1;2H\e[2@"
  rows
    |a  bcdef
  push "\e[@\e[0@"
  rows
    |a  bcdef
  cursor 0 1

case inserted spaces push cells off the end
  screen 40 5
  push "\{39}ab\e[1;39H\e[5@"
  rows
    |\{38}a\{2} 
    |

case insert and delete lines without a region
  screen 40 6
  numbered 6
  push "\e[3;1H\e[2L"
  rows
    |L0
    |L1
    |
    |
    |L2
    |L3
  push "\e[M"
  rows
    |L0
    |L1
    |
    |L2
    |L3
    |
  push "\e[99M"
  rows
    |L0
    |L1
    |
    |
    |
    |
  history

case DeleteLine(3) on row 5 of 24 blanks rows 21 to 23 only
  screen 40 24
  numbered 24
  push "\e[6;1H\e[3M"
  rows
    |L0
    |L1
    |L2
    |L3
    |L4
    |L8
    |L9
    |L10
    |L11
    |L12
    |L13
    |L14
    |L15
    |L16
    |L17
    |L18
    |L19
    |L20
    |L21
    |L22
    |L23
    |
    |
    |

case insert and delete lines inside a region
  screen 40 6
  numbered 6
  push "\e[2;5r\e[3;1H\e[L"
  rows
    |L0
    |L1
    |
    |L2
    |L3
    |L5
  push "\e[9L"
  rows
    |L0
    |L1
    |
    |
    |
    |L5
  push "\e[2;1H\e[3M"
  rows
    |L0
    |
    |
    |
    |
    |L5

case insert and delete lines outside the region do nothing
  screen 40 6
  numbered 6
  push "\e[2;4r\e[6;1H\e[L\e[M\e[1;1H\e[L"
  rows
    |L0
    |L1
    |L2
    |L3
    |L4
    |L5

case lines are made before they are inserted
  screen 40 5
  push "top\e[L"
  rows
    |
    |top
    |
    |
    |
)");
}

TEST_F(ScreenTest, ScrollRegion) {
  RunScript(R"(
case the whole screen means no region
  screen 40 5
  push "\e[1;5r"
  region 0 -1
  push "\e[r"
  region 0 -1

case a region; the cursor does not move
  screen 40 5
  push "\e[3;3H\e[2;4r"
  region 1 3
  cursor 2 2

case a region is clamped to the screen
  screen 40 5
  push "\e[2;99r"
  region 1 4
  push "\e[9;99r"
  region 1 4

case a region whose top is not above its bottom is ignored
  screen 40 5
  push "\e[2;4r\e[4;2r\e[3;3r"
  region 1 3

case line feeds on the region's bottom scroll it without adding history
  screen 40 5
  numbered 5
  push "\e[2;5r\e[5;3H\nX\nY"
  history
  rows
    |L0
    |L3
    |L4
    |  X
    |   Y
  cursor 4 4

case without a region line feeds at the bottom push lines into the history
  screen 40 3
  numbered 3
  push "\r\nA\r\nB"
  history
    |L0
    |L1
  rows
    |L2
    |A
    |B

case a reset ends the region
  screen 40 5
  push "\e[2;4r"
  region 1 3
)");
  bitmap.Reset(nullptr, 40, 5);
  EXPECT_EQ(MYBITMAP::iScrollBottom, MYBITMAP::kNoRegion);
}

TEST_F(ScreenTest, Attributes) {
  RunScript(R"(
case highlight and underline
  screen 40 5
  push "\e[1;4m"
  attrs 1 1 0

case any other value turns every attribute off
  push "\e[1;4;7m\e[31m"
  attrs 0 0 0

case every highlight value
  push "\e[2m"
  attrs 1 0 0
  push "\e[0;3m"
  attrs 1 0 0
  push "\e[0;5;7m"
  attrs 1 0 1
  push "\e[0;6m"
  attrs 1 0 0

case no parameter, or an empty one, is 0
  push "\e[7m\e[m"
  attrs 0 0 0
  push "\e[4;m"
  attrs 0 0 0
  push "\e[;4m"
  attrs 0 1 0

case attributes change no text
  push "ab\e[1mcd\e[0me"
  rows
    |abcde
)");
}

TEST_F(ScreenTest, ConnectLineProtection) {
  RunScript(R"(
case connect line on row 2, cursor on row 5: ESC [ H scrolls three lines first
  screen 40 6
  numbered 6
  connect 2
  push "\e[H"
  history
    |L0
    |L1
    |L2
  rows
    |L3
    |L4
    |L5
    |
    |
    |
  cursor 0 0

case the cursor on the connect line itself stays on the screen
  screen 40 4
  push "a\r\nb"
  connect 1
  push "\e[C"
  history
    |a
    |b
  rows
    |  
  cursor 0 2

case the cursor below the connect line stays on its line
  screen 40 5
  numbered 5
  connect 2
  push "\e[A"
  history
    |L0
    |L1
    |L2
  cursor 0 2

case every cursor and line-editing final protects
  screen 40 5
  numbered 3
  connect 0
  push "\e[B"
  history
    |L0
  screen 40 5
  numbered 3
  connect 0
  push "\e[D"
  history
    |L0
  screen 40 5
  numbered 3
  connect 0
  push "\e[f"
  history
    |L0
  screen 40 5
  numbered 3
  connect 0
  push "\e[J"
  history
    |L0
  screen 40 5
  numbered 3
  connect 0
  push "\e[L"
  history
    |L0
  screen 40 5
  numbered 3
  connect 0
  push "\e[M"
  history
    |L0

case erasing in the line, attributes and replies do not
  screen 40 5
  numbered 3
  connect 0
  push "\e[K\e[m\e[1P\e[@\e[2;3r\e[c"
  history
  reply "\e[?1;2c"

case a connect line below the cursor is left alone
  screen 40 5
  numbered 5
  connect 3
  push "\eM\eM\eM\eM"
  cursor 0 2
  push "\e[B"
  history
  cursor 1 2

case a private sequence with a protected final still protects
  screen 40 5
  numbered 3
  connect 1
  push "\e[?5H"
  history
    |L0
    |L1
  cursor 0 2
)");
}

TEST_F(ScreenTest, DeviceStatusAndAttributeReplies) {
  RunScript(R"(
case ESC [ 6 n on row 3 column 10 answers ESC [ 4 ; 11 R
  screen 40 5
  push "\e[4;11H\e[6n"
  reply "\e[4;11R"

case the position after a wrap with CursorCode 2
  screen 40 5 cursorcode 2
  push "\{40}x\e[6n"
  reply "\e[1;41R"

case status 5, 0, absent and others
  screen 40 5
  push "\e[5n"
  reply "\e[0n"
  push "\e[0n"
  reply "\e[?63c"
  push "\e[n"
  reply "\e[?63c"
  push "\e[3n\e[7n\e[99999n"
  reply ""

case device attributes whatever the parameters
  push "\e[c\e[0c\e[1;2;3c"
  reply "\e[?1;2c\e[?1;2c\e[?1;2c"

case a private request is not answered
  push "\e[?6n\e[?c"
  reply ""
)");
}

}  // namespace
