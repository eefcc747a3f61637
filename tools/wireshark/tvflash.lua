-- tvflash.lua: a Wireshark and tshark dissector for the datagrams of tvflash and a board's flash
-- service (one tagged ASCII message per UDP datagram, image blocks, the end-of-load checksum).
--
-- What it is for: reading a capture of a real board or of `tvflash-sim --pcap` when an update
-- fails or a new board's flash service is brought up. It decodes every tag with its parameters
-- as the tool reads them, numbers the image blocks of each upload, marks resends after "<NACK>"
-- and the tool's once-a-second repeats, compares the blocks' checksum with the "<END_LOAD>" value
-- and flags replies the tool does not know. docs/protocol.md describes the protocol.
--
-- Use: wireshark -X lua_script:tvflash.lua, or tshark -X lua_script:tvflash.lua -r capture.pcap,
-- or copy it into a Wireshark plugin folder (docs/debugging.md). It claims UDP port
-- 4000 (preference tvflash.port; 0 for none) and, as a heuristic dissector, datagrams on other
-- ports that begin with a known tag, together with the rest of their conversation.
--
-- How it is tested: tests/tools/dissector_test.cpp records sessions of every dialogue with the
-- simulator's pcap (and once with tcpdump when run as root) and checks the fields tshark decodes
-- with this file, from a table of captures, display filters and expected fields; the same test
-- runs the tshark examples of docs/debugging.md and docs/protocol.md and compares their output.

local tvflash = Proto("tvflash", "tvflash board flash service")

-- The catalogue: what the tool sends, and what a board may answer (longest tag first where one
-- tag begins another, as the tool tests them).
local COMMANDS = {
    "<VERSION>", "<GETCONFIG>", "<ERASE>", "<ERASESYS>", "<ERASEUSER>", "<ERASERESERVE>",
    "<ERASEREGISTRY>", "<ERASEDISK>", "<UPDATESYS>", "<UPDATERESERVE>", "<UPDATEROM>",
    "<FORMATDISK>", "<END_LOAD>", "<CONTINUE>", "<BREAK>",
}
local REPLIES = {
    "<VERSION>", "<NACK>", "<ACK>", "<UPDATING_FLASH>", "<ERASE_START>", "<ERASE_OK>",
    "<ERASE_ERROR>", "<NO_SYS_AREA>", "<NO_RESERVE>", "<NO_FLASH_FILE_SYSTEM>",
    "<FILE_SYSTEM_PRESENCE_ERROR>", "<OK_LOAD>", "<CHECK_", "<SIZE_ERROR><EXPANDED>",
    "<SIZE_ERROR>", "<UPDATE_OK>", "<UPDATE_ERROR>", "<SYSTEM_FILE_PRESENCE_ERROR>",
    "<DEST_DIFFER_QUERY>", "<FLASH_CONFIG_START>", "<FLASH_CONFIG_DATA>", "<FLASH_CONFIG_END>",
}
local UPLOAD_COMMANDS = {
    ["<UPDATESYS>"] = true, ["<UPDATERESERVE>"] = true, ["<UPDATEROM>"] = true,
    ["<FORMATDISK>"] = true,
}
local AREA_NAMES = {
    [0] = "Free", [1] = "Free for Reserve System", [2] = "User", [3] = "System",
    [4] = "File System", [5] = "Reserve System", [6] = "Registry", [7] = "ROM",
}
local DIRECTIONS = { [0] = "tool to board", [1] = "board to tool" }
local CHECKSUM_STATUS = { [0] = "Bad", [1] = "Good", [2] = "Unverified" }

local TWO_32 = 4294967296
local REPLY_BUFFER = 128
local REPEAT_SILENCE = 0.8 -- seconds; the tool repeats after a full second without a reply

local f = {
    direction = ProtoField.uint8("tvflash.direction", "Direction", base.DEC, DIRECTIONS),
    tag = ProtoField.string("tvflash.tag", "Tag"),
    text = ProtoField.string("tvflash.text", "Text"),
    version = ProtoField.string("tvflash.version", "Version text"),
    upload = ProtoField.uint32("tvflash.upload", "Upload number in this conversation"),
    block = ProtoField.uint32("tvflash.block", "Block number"),
    block_offset = ProtoField.uint32("tvflash.block.offset", "Offset in the image"),
    block_length = ProtoField.uint32("tvflash.block.length", "Block length"),
    resend = ProtoField.bool("tvflash.resend", "Resend after <NACK>"),
    resend_of = ProtoField.framenum("tvflash.resend.of", "Resend of the datagram in frame"),
    repeat_ = ProtoField.bool("tvflash.repeat", "Repeat by the tool's watchdog"),
    repeat_of = ProtoField.framenum("tvflash.repeat.of", "Repeat of the datagram in frame"),
    acked = ProtoField.uint32("tvflash.ack.block", "Acknowledges block"),
    nacked = ProtoField.uint32("tvflash.nack.block", "Asks again for block"),
    nack_of = ProtoField.framenum("tvflash.nack.of", "Asks again for the datagram in frame"),
    checksum = ProtoField.int32("tvflash.checksum", "Checksum", base.DEC),
    checksum_hex = ProtoField.uint32("tvflash.checksum.hex", "Checksum (hex)", base.HEX),
    checksum_blocks = ProtoField.uint32("tvflash.checksum.blocks",
        "Checksum of the blocks seen", base.HEX),
    checksum_status = ProtoField.uint8("tvflash.checksum.status", "Checksum status", base.DEC,
        CHECKSUM_STATUS),
    blocks = ProtoField.uint32("tvflash.blocks", "Blocks seen in this upload"),
    bytes = ProtoField.uint32("tvflash.bytes", "Image bytes seen in this upload"),
    padded = ProtoField.bool("tvflash.end_load.padded", "Space appended for an even length"),
    check_ok = ProtoField.bool("tvflash.check.ok", "Checksum accepted by the board"),
    area_start = ProtoField.uint32("tvflash.area.start", "Area start", base.HEX),
    area_end = ProtoField.uint32("tvflash.area.end", "Area end", base.HEX),
    area_type = ProtoField.int32("tvflash.area.type", "Area type", base.DEC),
    area_name = ProtoField.string("tvflash.area.name", "Area name"),
    area_size = ProtoField.uint32("tvflash.area.size", "Area size (bytes)"),
    total = ProtoField.double("tvflash.total_mib", "Total flash size (MiB)"),
    error_code = ProtoField.int32("tvflash.error_code", "Error code"),
    free_space = ProtoField.int32("tvflash.free_space", "Free space (bytes)"),
    stored_type = ProtoField.string("tvflash.board_type.stored", "Board type of the stored bootloader"),
    update_type = ProtoField.string("tvflash.board_type.update", "Board type of the new bootloader"),
    unexpected = ProtoField.bool("tvflash.unexpected", "Not a known tag"),
}
tvflash.fields = {}
for _, field in pairs(f) do
    table.insert(tvflash.fields, field)
end

local e = {
    unexpected = ProtoExpert.new("tvflash.unexpected.expert", "Not a known tag",
        expert.group.PROTOCOL, expert.severity.WARN),
    checksum_bad = ProtoExpert.new("tvflash.checksum.bad",
        "Checksum of the blocks seen differs from the <END_LOAD> value",
        expert.group.CHECKSUM, expert.severity.WARN),
    blocks_missing = ProtoExpert.new("tvflash.blocks.missing",
        "Blocks are missing from the capture", expert.group.SEQUENCE, expert.severity.WARN),
    resend = ProtoExpert.new("tvflash.resend.expert", "Resend after <NACK>",
        expert.group.SEQUENCE, expert.severity.NOTE),
    resend_unseen = ProtoExpert.new("tvflash.resend.unseen",
        "The checksum cannot tell whether the board stored this block twice",
        expert.group.SEQUENCE, expert.severity.WARN),
    repeat_ = ProtoExpert.new("tvflash.repeat.expert",
        "Repeated by the tool after a second without a reply", expert.group.SEQUENCE,
        expert.severity.NOTE),
    nack = ProtoExpert.new("tvflash.nack.expert", "The board asks for the last datagram again",
        expert.group.SEQUENCE, expert.severity.NOTE),
    refusal = ProtoExpert.new("tvflash.refusal", "The board refuses or fails",
        expert.group.RESPONSE_CODE, expert.severity.NOTE),
    separator = ProtoExpert.new("tvflash.separator",
        "The character after the tag is skipped, whatever it is", expert.group.PROTOCOL,
        expert.severity.WARN),
    too_long = ProtoExpert.new("tvflash.too_long", "Reply too long for the tool's 128-byte buffer",
        expert.group.MALFORMED, expert.severity.ERROR),
    end_load_form = ProtoExpert.new("tvflash.end_load.form",
        "End-of-load message without its terminating zero or of odd length",
        expert.group.MALFORMED, expert.severity.WARN),
    row_form = ProtoExpert.new("tvflash.area.form", "Area row does not parse completely",
        expert.group.MALFORMED, expert.severity.WARN),
}
tvflash.experts = {}
for _, ef in pairs(e) do
    table.insert(tvflash.experts, ef)
end

tvflash.prefs.port = Pref.uint("UDP port", 4000,
    "UDP port of the board's flash service (0: none; other ports are found by heuristics)")

-- State of the first pass, rebuilt whenever a capture is (re)read: one record per conversation,
-- and what was decided for each frame, so that later passes show the same.
local conversations = {}
local frames = {}

function tvflash.init()
    conversations = {}
    frames = {}
end

local function starts_with(text, prefix)
    return text:sub(1, #prefix) == prefix
end

local function match_tag(text, list)
    for _, tag in ipairs(list) do
        if starts_with(text, tag) then
            return tag
        end
    end
    return nil
end

-- The datagram's text as the tool's reply buffer holds it: up to the first zero byte.
local function as_text(data)
    local zero = data:find("\0", 1, true)
    return zero and data:sub(1, zero - 1) or data
end

-- A number as the C library's atoi or strtol reads it: blanks, an optional sign, digits.
local function read_int(text)
    local sign, digits = text:match("^[ \t\n\v\f\r]*([%+%-]?)(%d*)")
    if digits == nil or digits == "" then
        return 0
    end
    local value = tonumber(digits)
    if sign == "-" then
        value = -value
    end
    return math.max(-2147483648, math.min(2147483647, value))
end

-- A number as atof reads it, for the decimal forms boards send: blanks, sign, digits, fraction.
local function read_float(text)
    local number = text:match("^[ \t\n\v\f\r]*([%+%-]?%d*%.?%d*)")
    return tonumber(number or "") or 0
end

-- A hexadecimal number as scanf's %lX reads it (optional 0x), or nil.
local function read_hex(token)
    if token == nil then
        return nil
    end
    local digits = token:match("^[0][xX](%x+)$") or token:match("^(%x+)$")
    return digits and tonumber(digits, 16) % TWO_32 or nil
end

-- Adds the bytes of a block that stands at offset in the image: big-endian 32-bit words, the last
-- padded with zero bytes, summed modulo 2^32.
local function add_to_checksum(sum, offset, data)
    local shifts = { 16777216, 65536, 256, 1 }
    for i = 1, #data do
        sum = sum + data:byte(i) * shifts[(offset + i - 1) % 4 + 1]
    end
    return sum % TWO_32
end

local function signed32(value)
    return value >= 2147483648 and value - TWO_32 or value
end

local function endpoint(address, port)
    return tostring(address) .. ":" .. tostring(port)
end

local function conversation_of(pinfo)
    local a = endpoint(pinfo.src, pinfo.src_port)
    local b = endpoint(pinfo.dst, pinfo.dst_port)
    local key = a < b and (a .. " " .. b) or (b .. " " .. a)
    return key, conversations[key]
end

local function is_command(data)
    local text = as_text(data)
    local tag = match_tag(text, COMMANDS)
    if tag == "<END_LOAD>" then
        return true
    end
    return tag ~= nil and text == tag
end

-- Which side sent the datagram: the preference's port is the board's; otherwise the side that
-- sent the conversation's first command is the tool.
local function sent_by_tool(pinfo, conv, data)
    local port = tvflash.prefs.port
    if port ~= 0 and pinfo.dst_port == port then
        return true
    end
    if port ~= 0 and pinfo.src_port == port then
        return false
    end
    if conv.board == nil then
        local board_is_dst = is_command(data)
        conv.board = board_is_dst and endpoint(pinfo.dst, pinfo.dst_port)
            or endpoint(pinfo.src, pinfo.src_port)
    end
    return endpoint(pinfo.src, pinfo.src_port) ~= conv.board
end

local function new_conversation()
    return { state = "idle", uploads = 0, last_time = nil, last_tool = nil, nack_pending = false }
end

local function start_upload(conv)
    conv.state = "loading"
    conv.uploads = conv.uploads + 1
    conv.blocks = 0
    conv.bytes = 0
    conv.sum = 0
    conv.missing = 0
    conv.last_block = nil
    conv.outstanding = nil
end

-- The first pass over a datagram from the tool: what it is within its conversation.
local function classify_tool_datagram(conv, data, frame, gap)
    local r = { to_board = true }
    local last = conv.last_tool
    local same_as_last = last ~= nil and last.data == data
    if conv.state == "loading" and not starts_with(data, "<END_LOAD>") then
        local block = conv.last_block
        if conv.nack_pending and block ~= nil and block.data == data then
            r.block, r.offset, r.resend_of = block.number, block.offset, block.frame
            r.already_acked = block.acked
            -- Words that sum to zero add nothing to the checksum, twice or once.
            r.unseen = #data > 0 and add_to_checksum(0, 0, data) == 0
        else
            conv.blocks = conv.blocks + 1
            block = { number = conv.blocks, offset = conv.bytes, data = data, frame = frame }
            conv.sum = add_to_checksum(conv.sum, conv.bytes, data)
            conv.bytes = conv.bytes + #data
            conv.last_block = block
            r.block, r.offset = block.number, block.offset
        end
        r.upload = conv.uploads
        conv.outstanding = block
    else
        if conv.nack_pending and same_as_last then
            r.resend_of = last.first_frame
        elseif same_as_last and gap ~= nil and gap >= REPEAT_SILENCE then
            r.repeat_of = last.first_frame
        end
        local text = as_text(data)
        if UPLOAD_COMMANDS[text] then
            conv.state = "announced"
        elseif starts_with(text, "<END_LOAD>") then
            if conv.state == "loading" then
                r.upload, r.blocks, r.bytes, r.sum = conv.uploads, conv.blocks, conv.bytes, conv.sum
                r.missing = conv.missing
                conv.state = "completing"
            end
        elseif text == "<BREAK>" then
            conv.state = "idle"
        end
    end
    conv.nack_pending = false
    local first = (r.resend_of or r.repeat_of) and last.first_frame or frame
    conv.last_tool = { data = data, first_frame = first }
    return r
end

-- The first pass over a reply from the board.
local function classify_reply(conv, text)
    local r = { to_board = false }
    local tag = match_tag(text, REPLIES)
    if tag == "<OK_LOAD>" and (conv.state == "announced" or conv.state == "idle") then
        start_upload(conv)
    elseif tag == "<ACK>" and conv.state == "loading" then
        if conv.outstanding ~= nil then
            r.acked = conv.outstanding.number
            conv.outstanding.acked = true
            conv.outstanding = nil
        else
            conv.missing = conv.missing + 1
            r.ack_without_block = true
        end
    elseif tag == "<NACK>" then
        conv.nack_pending = true
        if conv.state == "loading" and conv.last_block ~= nil then
            r.nacked = conv.last_block.number
            r.nack_of = conv.last_block.frame
        elseif conv.last_tool ~= nil then
            r.nack_of = conv.last_tool.first_frame
            r.nack_text = match_tag(as_text(conv.last_tool.data), COMMANDS)
        end
    elseif tag == "<UPDATE_OK>" or tag == "<UPDATE_ERROR>" or tag == "<SIZE_ERROR>"
        or tag == "<SIZE_ERROR><EXPANDED>" or tag == "<FILE_SYSTEM_PRESENCE_ERROR>"
        or tag == "<SYSTEM_FILE_PRESENCE_ERROR>" then
        if conv.state == "completing" then
            conv.state = "idle"
        end
    end
    return r
end

local function tag_label(text, tag)
    if tag == "<CHECK_" then
        local close = text:find(">", 1, true)
        return close and text:sub(1, close) or text
    end
    return tag
end

-- The parameter that the tool reads at offset (the tag and one separator character): a warning
-- when that character is not a blank, since the tool skips it all the same.
local function check_separator(item, tvb, text, tag)
    local separator = text:sub(#tag + 1, #tag + 1)
    if separator ~= "" and separator ~= " " then
        item:add_proto_expert_info(e.separator, string.format(
            "The character %q after %s is skipped; the tool reads from offset %d", separator,
            tag, #tag + 1))
    end
end

local function add_area_row(tree, tvb, text, summary)
    local tokens = {}
    for token in text:sub(#"<FLASH_CONFIG_DATA>" + 1):gmatch("%S+") do
        table.insert(tokens, token)
    end
    local first, last = read_hex(tokens[1]), read_hex(tokens[2])
    local type_text = tokens[3] and tokens[3]:match("^[%+%-]?%d+$")
    local area_type = type_text and read_int(type_text) or nil
    if first then tree:add(f.area_start, first):set_generated() end
    if last then tree:add(f.area_end, last):set_generated() end
    if area_type then
        tree:add(f.area_type, area_type):set_generated()
        tree:add(f.area_name, AREA_NAMES[area_type] or "Unknown"):set_generated()
    end
    if first == nil or last == nil or area_type == nil then
        tree:add_proto_expert_info(e.row_form,
            "Area row does not parse completely; the tool keeps the previous row's values")
        return summary
    end
    local size = (last - first + 1) % TWO_32
    tree:add(f.area_size, size):set_generated()
    return string.format("%s 0x%08X-0x%08X %s, %d bytes", "<FLASH_CONFIG_DATA>", first, last,
        AREA_NAMES[area_type] or "Unknown", size)
end

-- Decodes the parameters of a reply; returns the Info text.
local function add_reply_parameters(tree, tvb, text, tag, r)
    local summary = tag_label(text, tag)
    if tag == "<VERSION>" then
        local version = text:sub(11)
        tree:add(f.version, version):set_generated()
        check_separator(tree, tvb, text, tag)
        summary = "<VERSION> " .. version
    elseif tag == "<ERASE_ERROR>" or tag == "<UPDATE_ERROR>" then
        local code = read_int(text:sub(#tag + 2))
        tree:add(f.error_code, code):set_generated()
        check_separator(tree, tvb, text, tag)
        tree:add_proto_expert_info(e.refusal, string.format("%s code %d", tag, code))
        summary = string.format("%s code %d", tag, code)
    elseif tag == "<SIZE_ERROR><EXPANDED>" then
        local space = read_int(text:sub(#tag + 1))
        tree:add(f.free_space, space):set_generated()
        tree:add_proto_expert_info(e.refusal)
        summary = string.format("%s %d bytes free", tag, space)
    elseif tag == "<CHECK_" then
        local ok = text:sub(8, 10) == "OK>"
        tree:add(f.check_ok, ok):set_generated()
        if not ok then
            tree:add_proto_expert_info(e.refusal, "The board's checksum check failed")
        end
    elseif tag == "<DEST_DIFFER_QUERY>" then
        local rest = text:sub(21)
        local bar = rest:find("|", 1, true)
        local stored = bar and rest:sub(1, bar - 1) or ""
        local update = bar and rest:sub(bar + 1) or ""
        tree:add(f.stored_type, stored):set_generated()
        tree:add(f.update_type, update):set_generated()
        check_separator(tree, tvb, text, tag)
        summary = string.format("%s stored %s, new %s", tag, stored, update)
    elseif tag == "<FLASH_CONFIG_DATA>" then
        summary = add_area_row(tree, tvb, text, summary)
    elseif tag == "<FLASH_CONFIG_END>" then
        local total = read_float(text:sub(20))
        tree:add(f.total, total):set_generated()
        check_separator(tree, tvb, text, tag)
        summary = string.format("%s %s MiB", tag, tostring(total))
    elseif tag == "<ACK>" and r.acked then
        tree:add(f.acked, r.acked):set_generated()
        summary = string.format("<ACK> block %d", r.acked)
    elseif tag == "<ACK>" and r.ack_without_block then
        tree:add_proto_expert_info(e.blocks_missing,
            "Acknowledges a block that is not in the capture")
    elseif tag == "<NACK>" then
        if r.nacked then
            tree:add(f.nacked, r.nacked):set_generated()
            summary = string.format("<NACK> block %d", r.nacked)
        end
        if r.nack_text then
            summary = "<NACK> of " .. r.nack_text
        end
        if r.nack_of then
            tree:add(f.nack_of, r.nack_of):set_generated()
        end
        tree:add_proto_expert_info(e.nack)
    elseif tag == "<ERASE_OK>" or tag == "<UPDATE_OK>" then
        summary = tag
    elseif tag ~= "<ERASE_START>" and tag ~= "<OK_LOAD>" and tag ~= "<UPDATING_FLASH>"
        and tag ~= "<FLASH_CONFIG_START>" then
        tree:add_proto_expert_info(e.refusal, tag)
    end
    return summary
end

local function add_end_load(tree, data, r)
    local text = as_text(data)
    local value = read_int(text:sub(#"<END_LOAD>" + 1))
    local hex = value % TWO_32
    tree:add(f.checksum, value):set_generated()
    tree:add(f.checksum_hex, hex):set_generated()
    tree:add(f.padded, text:sub(-1) == " "):set_generated()
    if #data % 2 ~= 0 or data:sub(-1) ~= "\0" then
        tree:add_proto_expert_info(e.end_load_form)
    end
    local summary = string.format("<END_LOAD> %d (0x%08X)", value, hex)
    if r.blocks == nil then
        return summary
    end
    tree:add(f.upload, r.upload):set_generated()
    tree:add(f.blocks, r.blocks):set_generated()
    tree:add(f.bytes, r.bytes):set_generated()
    tree:add(f.checksum_blocks, r.sum):set_generated()
    local status
    if r.missing > 0 then
        status = 2
        tree:add_proto_expert_info(e.blocks_missing, string.format(
            "%d block(s) of this upload are missing from the capture; checksum not compared",
            r.missing))
        summary = summary .. ", blocks missing"
    elseif r.sum ~= hex then
        status = 0
        tree:add_proto_expert_info(e.checksum_bad, string.format(
            "Checksum of the %d blocks seen is 0x%08X (%d), <END_LOAD> says 0x%08X", r.blocks,
            r.sum, signed32(r.sum), hex))
        summary = summary .. string.format(", blocks sum to 0x%08X", r.sum)
    else
        status = 1
        summary = summary .. string.format(", matches %d blocks", r.blocks)
    end
    tree:add(f.checksum_status, status):set_generated()
    return summary
end

local function add_tool_datagram(tree, data, r)
    if r.block then
        tree:add(f.upload, r.upload):set_generated()
        tree:add(f.block, r.block):set_generated()
        tree:add(f.block_offset, r.offset):set_generated()
        tree:add(f.block_length, #data):set_generated()
        return string.format("Block %d (%d bytes)", r.block, #data)
    end
    local text = as_text(data)
    local tag = match_tag(text, COMMANDS)
    if tag == nil then
        tree:add(f.unexpected, true):set_generated()
        tree:add_proto_expert_info(e.unexpected,
            "Not a command of the tool, and no upload is in progress (or its <OK_LOAD> is not in the capture)")
        return string.format("Unknown datagram (%d bytes)", #data)
    end
    tree:add(f.tag, tag):set_generated()
    if tag == "<END_LOAD>" then
        return add_end_load(tree, data, r)
    end
    return text
end

local function add_markers(tree, r, summary)
    if r.resend_of then
        tree:add(f.resend, true):set_generated()
        tree:add(f.resend_of, r.resend_of):set_generated()
        local note = r.block and string.format("Resend of block %d after <NACK>", r.block)
            or "Resend after <NACK>"
        if r.already_acked then
            note = note .. " (the block was acknowledged: that acknowledgement was lost)"
        end
        tree:add_proto_expert_info(e.resend, note)
        if r.unseen then
            tree:add_proto_expert_info(e.resend_unseen)
        end
        return summary .. ", resend after <NACK>"
    end
    if r.repeat_of then
        tree:add(f.repeat_, true):set_generated()
        tree:add(f.repeat_of, r.repeat_of):set_generated()
        tree:add_proto_expert_info(e.repeat_)
        return summary .. ", repeat after a silent second"
    end
    return summary
end

function tvflash.dissector(tvb, pinfo, root)
    local data = tvb:raw()
    local key, conv = conversation_of(pinfo)
    if conv == nil then
        conv = new_conversation()
        conversations[key] = conv
    end
    local r = frames[pinfo.number]
    if r == nil then
        local gap = conv.last_time and (pinfo.abs_ts - conv.last_time) or nil
        if sent_by_tool(pinfo, conv, data) then
            r = classify_tool_datagram(conv, data, pinfo.number, gap)
        else
            r = classify_reply(conv, as_text(data))
        end
        conv.last_time = pinfo.abs_ts
        frames[pinfo.number] = r
    end

    pinfo.cols.protocol = "TVFLASH"
    local tree = root:add(tvflash, tvb())
    tree:add(f.direction, r.to_board and 0 or 1):set_generated()
    local summary
    if r.to_board then
        summary = add_tool_datagram(tree, data, r)
    else
        local text = as_text(data)
        if #text > 0 then
            tree:add(f.text, tvb(0, #text), text)
        end
        local tag = match_tag(text, REPLIES)
        if tag == nil then
            tree:add(f.unexpected, true):set_generated()
            tree:add_proto_expert_info(e.unexpected,
                "Not a known tag: the tool prints it as it stands in its result loops, drops it elsewhere")
            summary = "Unexpected " .. text
        else
            tree:add(f.tag, tag_label(text, tag)):set_generated()
            summary = add_reply_parameters(tree, tvb, text, tag, r)
        end
        if #data > REPLY_BUFFER then
            tree:add_proto_expert_info(e.too_long, string.format(
                "%d bytes: the tool's receive fails on a datagram over 128 bytes", #data))
        elseif #data == REPLY_BUFFER and data:find("\0", 1, true) == nil then
            tree:add_proto_expert_info(e.too_long,
                "128 bytes without a zero: the tool reads only the first 127")
        end
    end
    summary = add_markers(tree, r, summary)
    pinfo.cols.info = (r.to_board and "To board: " or "To tool: ") .. summary
    tree:append_text(": " .. summary)
    return tvb:len()
end

-- Heuristics: a datagram that begins with a known tag starts a conversation of ours; every later
-- datagram of that conversation, image blocks included, is ours as well.
local function heuristic(tvb, pinfo, root)
    if tvb:len() == 0 then
        return false
    end
    local key, conv = conversation_of(pinfo)
    if conv == nil then
        local text = as_text(tvb:raw(0, math.min(tvb:len(), 64)))
        if match_tag(text, COMMANDS) == nil and match_tag(text, REPLIES) == nil then
            return false
        end
    end
    tvflash.dissector(tvb, pinfo, root)
    return true
end

local udp_port = DissectorTable.get("udp.port")
local registered_port = 0

local function register_port()
    if registered_port ~= 0 then
        udp_port:remove(registered_port, tvflash)
    end
    registered_port = tvflash.prefs.port
    if registered_port ~= 0 then
        udp_port:add(registered_port, tvflash)
    end
end

function tvflash.prefs_changed()
    if tvflash.prefs.port ~= registered_port then
        register_port()
    end
end

register_port()
tvflash:register_heuristic("udp", heuristic)
